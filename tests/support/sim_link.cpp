#include "sim_link.h"

#include <algorithm>
#include <cstdio>

#include "chip/register_map.h"

int SimLink::Transfer(LinkTransfer t, int dev, const std::function<void(LinkTransfer &)> &reach_chip)
{
    const uint32_t number = static_cast<uint32_t>(transfers.size()) + 1;
    const bool fails = (dev & 0xFE) != (chip_.facts().i2c_address & 0xFE) || (fail_from && number >= fail_from) ||
                       number == fail_only || (t.op == 'R' && fail_reads) || (fail_if && fail_if(t.op, t.page, t.reg));
    if (fails)
        t.result = t.op == 'R' ? read_error : write_error;
    else
        reach_chip(t);
    transfers.push_back(std::move(t));
    if (after_transfer)
        after_transfer(transfers.back());
    return transfers.back().result;
}

int SimLink::WriteBlock(int dev, int reg, std::span<const uint8_t> data)
{
    return Transfer({'W', chip_.current_page(), static_cast<uint8_t>(reg), {data.begin(), data.end()},
                     static_cast<int>(data.size())},
                    dev, [&](LinkTransfer &t) { chip_.WriteBlockCurrent(t.reg, data.data(), data.size()); });
}

int SimLink::ReadBlock(int dev, int reg, std::span<uint8_t> data)
{
    return Transfer({'R', chip_.current_page(), static_cast<uint8_t>(reg), {}, static_cast<int>(data.size())}, dev,
                    [&](LinkTransfer &t) {
                        chip_.ReadBlockCurrent(t.reg, data.data(), data.size());
                        t.bytes.assign(data.begin(), data.end());
                    });
}

std::vector<std::string> SimLink::FlashBlocks() const
{
    std::vector<std::string> out;
    for (const auto &t : transfers)
        if (t.Is('W', qz::PAGE_FLASH, qz::FLASH_CMD) && t.bytes.size() == 5)
            out.push_back(HexLine(t.bytes));
    return out;
}

std::string SimLink::Events() const
{
    std::string out;
    for (const auto &t : transfers) {
        if (t.Is('W', qz::PAGE_FLASH, qz::FLASH_CMD) && t.bytes.size() == 5)
            out += t.bytes[0] == qz::FLASH_OP_PROGRAM ? 'P' : t.bytes[0] == qz::FLASH_OP_READ ? 'R' : '?';
        else if (t.Is('W', qz::PAGE_I2C_MASTER, qz::I2CM_WDATA) && t.bytes.size() == 3 + qz::EEPROM_PAGE_BYTES)
            out += 'E';
        else if (t.Is('W', qz::PAGE_I2C_MASTER, qz::I2CM_WDATA) && t.bytes == std::vector<uint8_t>{0xA6})
            out += 'p';
    }
    return out;
}

std::string SimLink::Dump(size_t count) const
{
    std::string out;
    for (size_t i = 0; i < transfers.size() && i < count; ++i) {
        const LinkTransfer &t = transfers[i];
        const uint8_t head[] = {t.page, t.reg};
        out += t.op + (" " + HexLine(head)) + (t.bytes.empty() ? "" : " ") + HexLine(t.bytes) + "\n";
    }
    return out;
}

void LoadGenerated(qzsim::Chip &chip, const qzsim::GeneratedChip &generated)
{
    chip.facts() = generated.facts;
    chip.ApplyFacts();
    std::copy(generated.flash.begin(), generated.flash.end(), chip.flash().begin());
    std::copy(generated.eeprom.begin(), generated.eeprom.end(), chip.eeprom().data().begin());
}

std::string HexLine(std::span<const uint8_t> bytes)
{
    std::string out;
    char hex[4];
    for (uint8_t b : bytes) {
        std::snprintf(hex, sizeof hex, out.empty() ? "%02X" : " %02X", b);
        out += hex;
    }
    return out;
}

size_t CountOf(const std::string &text, const std::string &needle)
{
    size_t n = 0;
    for (size_t at = text.find(needle); at != std::string::npos; at = text.find(needle, at + needle.size()))
        ++n;
    return n;
}
