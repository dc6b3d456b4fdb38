#include "sim_link.h"

#include <algorithm>
#include <cstdio>

#include "app/error_codes.h"
#include "eeprom/eeprom_search.h"
#include "flash/default_access_key.h"
#include "flash/hardware_fault.h"
#include "flash/info_block.h"
#include "flash/register_map.h"
#include "flash/self_test.h"
#include "link/chip_link.h"

static SimLink *active = nullptr;

static bool Fails(const LinkTransfer &t)
{
    const bool read = t.op == 'R';
    if (active->fail_if && active->fail_if(t))
        return true;
    const uint32_t number = active->count() + 1;
    if (active->fail_from && number >= active->fail_from)
        return true;
    return read && active->fail_reads_from && active->reads >= active->fail_reads_from;
}

static int Record(LinkTransfer t)
{
    const int result = t.result;
    active->transfers.push_back(std::move(t));
    if (active->after_transfer)
        active->after_transfer(active->transfers.back());
    return result;
}

static int SimWrite(int, int reg, const uint8_t *data, uint8_t len)
{
    LinkTransfer t{'W', active->chip.current_page(), static_cast<uint8_t>(reg), {data, data + len}, len};
    if (Fails(t))
        t.result = active->link_kind == LINK_USB_BILLBOARD ? ERR_USB_WRITE : ERR_ADAPTER_WRITE;
    else
        active->chip.WriteBlockCurrent(static_cast<uint8_t>(reg), data, len);
    return Record(std::move(t));
}

static int SimRead(int, int reg, uint8_t *data, uint8_t len)
{
    ++active->reads;
    LinkTransfer t{'R', active->chip.current_page(), static_cast<uint8_t>(reg), {}, len};
    if (Fails(t)) {
        t.result = active->link_kind == LINK_USB_BILLBOARD ? ERR_USB_READ : ERR_ADAPTER_READ;
    } else {
        active->chip.ReadBlockCurrent(static_cast<uint8_t>(reg), data, len);
        if (active->read_filter)
            active->read_filter(t, data);
        t.bytes.assign(data, data + len);
    }
    return Record(std::move(t));
}

static int SimOpen() { return 1; }
static void SimClose() {}

SimLink::SimLink(qzsim::Chip &c, int kind) : chip(c), link_kind(kind)
{
    active = this;
    chip_link = ChipLink{SimOpen, SimClose, SimWrite, SimRead};
    settings.link_kind = kind;
}

SimLink::~SimLink()
{
    if (active == this)
        active = nullptr;
    chip_link = ChipLink{};
}

std::vector<LinkTransfer> SimLink::Matching(char op, uint8_t page, uint8_t reg) const
{
    std::vector<LinkTransfer> out;
    for (const auto &t : transfers)
        if (t.Is(op, page, reg))
            out.push_back(t);
    return out;
}

std::vector<std::vector<uint8_t>> SimLink::FlashBlocks() const
{
    std::vector<std::vector<uint8_t>> out;
    for (const auto &t : Matching('W', PAGE_FLASH, FLASH_CMD))
        if (t.bytes.size() == 5)
            out.push_back(t.bytes);
    return out;
}

std::vector<uint8_t> SimLink::FlashCommandBytes() const
{
    std::vector<uint8_t> out;
    for (const auto &t : Matching('W', PAGE_FLASH, FLASH_CMD))
        out.push_back(t.bytes.at(0));
    return out;
}

std::vector<uint8_t> SimLink::PageSelects() const
{
    std::vector<uint8_t> out;
    for (const auto &t : transfers)
        if (t.op == 'W' && t.reg == PAGE_SELECT && t.bytes.size() == 1)
            out.push_back(t.bytes[0]);
    return out;
}

std::vector<uint8_t> SimLink::CoreCtrlWrites() const
{
    std::vector<uint8_t> out;
    for (const auto &t : Matching('W', PAGE_CORE, CORE_CTRL))
        out.push_back(t.bytes.at(0));
    return out;
}

std::string SimLink::Dump(size_t from, size_t max) const
{
    std::string out;
    for (size_t i = from; i < transfers.size() && i < from + max; ++i) {
        const auto &t = transfers[i];
        char head[32];
        std::snprintf(head, sizeof head, "%c %02X %02X", t.op, t.page, t.reg);
        out += head;
        for (uint8_t b : t.bytes) {
            std::snprintf(head, sizeof head, " %02X", b);
            out += head;
        }
        if (t.result < 0)
            out += " -> " + std::to_string(t.result);
        out += '\n';
    }
    return out;
}

void SimChipTest::SetUp()
{
    ToolStateTest::SetUp();
    ResetHardwareFault();
    chip_info.fill(0);
    eeprom_info.fill(0);
    timing_offset = 0;
    bist_poll_interval_ms = 0;
    UseLink(LINK_I2C_ADAPTER);
}

void SimChipTest::TearDown()
{
    link.reset();
    ResetHardwareFault();
    bist_poll_interval_ms = kBistPollIntervalMs;
}

void SimChipTest::UseLink(int link_kind)
{
    link.reset();
    link = std::make_unique<SimLink>(chip, link_kind);
}

void SimChipTest::OpenFlash()
{
    chip.WriteBlock(PAGE_KEY, KEY_DATA, kDefaultAccessKey.data(), kDefaultAccessKey.size());
    ASSERT_TRUE(chip.key_accepted());
}

void SimChipTest::UseGeneratedChip(const qzsim::GeneratedChip &generated)
{
    chip.facts() = generated.facts;
    chip.ApplyFacts();
    std::copy(generated.flash.begin(), generated.flash.end(), chip.flash().begin());
    std::copy(generated.eeprom.begin(), generated.eeprom.end(), chip.eeprom().data().begin());
    std::copy(generated.image.begin(), generated.image.end(), FirmwareImage.begin());
}

size_t CountOf(const std::string &text, const std::string &needle)
{
    size_t n = 0;
    for (size_t at = text.find(needle); at != std::string::npos; at = text.find(needle, at + needle.size()))
        ++n;
    return n;
}
