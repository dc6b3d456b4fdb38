#include "sim_link.h"

#include <algorithm>
#include <cstdio>

#include "chip/register_map.h"

FailRule FailNth(char op, uint8_t page, uint8_t reg, int n)
{
    return [=, seen = 0](char o, uint8_t p, uint8_t r) mutable {
        return o == op && p == page && r == reg && ++seen == n;
    };
}

int SimLink::Transfer(LinkTransfer t, int dev, const std::function<void(LinkTransfer &, size_t)> &reach_chip)
{
    const uint32_t number = ++count;
    const bool fails = (dev & 0xFE) != (chip_.facts().i2c_address & 0xFE) || (fail_from && number >= fail_from) ||
                       number == fail_only || (fail_if && fail_if(t.op, t.page, t.reg));
    const size_t size = static_cast<size_t>(t.result);
    if (!fails) {
        reach_chip(t, size);
    } else {
        if (fail_halfway)
            reach_chip(t, size / 2);
        t.result = t.op == 'R' ? read_error : write_error;
    }
    const int result = t.result;
    if (after_transfer)
        after_transfer(t);
    if (record)
        transfers.push_back(std::move(t));
    return result;
}

int SimLink::WriteBlock(int dev, int reg, std::span<const uint8_t> data)
{
    return Transfer({'W', chip_.current_page(), static_cast<uint8_t>(reg), {data.begin(), data.end()},
                     static_cast<int>(data.size())},
                    dev, [&](LinkTransfer &t, size_t count) { chip_.WriteBlockCurrent(t.reg, data.data(), count); });
}

int SimLink::ReadBlock(int dev, int reg, std::span<uint8_t> data)
{
    return Transfer({'R', chip_.current_page(), static_cast<uint8_t>(reg), {}, static_cast<int>(data.size())}, dev,
                    [&](LinkTransfer &t, size_t count) {
                        chip_.ReadBlockCurrent(t.reg, data.data(), count);
                        std::fill(data.begin() + static_cast<long>(count), data.end(), 0xA5);
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
