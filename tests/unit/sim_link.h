#pragma once
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "chip.h"
#include "image_gen.h"
#include "test_support.h"

// One WriteBlock or ReadBlock as the tool made it, with the page the chip had
// selected when it arrived.
struct LinkTransfer {
    char op = 0;  // 'W' or 'R'
    uint8_t page = 0;
    uint8_t reg = 0;
    std::vector<uint8_t> bytes;  // written, or delivered by the read
    int result = 0;

    bool Is(char o, uint8_t p, uint8_t r) const { return op == o && page == p && reg == r; }
};

// Binds chip_link to a simulated chip and records every transfer. Transfers
// are numbered from 1; from fail_from on every transfer fails with the
// link's error code without reaching the chip, from the fail_reads_from-th
// read on every read does, and so does any transfer fail_if picks (it sees
// op, page and reg). read_filter may change the bytes a read delivers;
// after_transfer sees each transfer once it is recorded.
class SimLink {
public:
    SimLink(qzsim::Chip &chip, int link_kind);
    ~SimLink();
    SimLink(const SimLink &) = delete;
    SimLink &operator=(const SimLink &) = delete;

    qzsim::Chip &chip;
    int link_kind;
    std::vector<LinkTransfer> transfers;
    uint32_t fail_from = 0;
    uint32_t fail_reads_from = 0;
    uint32_t reads = 0;
    std::function<bool(const LinkTransfer &)> fail_if;
    std::function<void(const LinkTransfer &, uint8_t *data)> read_filter;
    std::function<void(const LinkTransfer &)> after_transfer;

    uint32_t count() const { return static_cast<uint32_t>(transfers.size()); }
    std::vector<LinkTransfer> Matching(char op, uint8_t page, uint8_t reg) const;
    // Every flash command block written (page 5, 5 bytes at FLASH_CMD).
    std::vector<std::vector<uint8_t>> FlashBlocks() const;
    // The bytes of every one-byte write at FLASH_CMD and every block's first
    // byte, in order: shows block, start byte and clear byte of each command.
    std::vector<uint8_t> FlashCommandBytes() const;
    // Writes to PAGE_SELECT on any page, in order.
    std::vector<uint8_t> PageSelects() const;
    // Values written to CORE_CTRL.
    std::vector<uint8_t> CoreCtrlWrites() const;
    // One line per transfer, "W 05 30 05 00 08 38 80", for failure messages.
    std::string Dump(size_t from = 0, size_t max = 200) const;
};

// A fresh simulated chip on an I2C adapter link (link_kind 1), with every
// tool global the flash engine keeps reset. Tests change chip.facts() (then
// chip.ApplyFacts() for the EEPROM ones) before the call under test.
class SimChipTest : public ToolStateTest {
protected:
    void SetUp() override;
    void TearDown() override;
    void UseLink(int link_kind);
    // Opens the chip's flash with the default key, straight on the chip (not
    // through the link), as an unlock earlier in the run would have.
    void OpenFlash();
    // Puts a generated chip (flash, EEPROM, facts) behind the link and its
    // new image into FirmwareImage.
    void UseGeneratedChip(const qzsim::GeneratedChip &generated);

    qzsim::Chip chip;
    std::unique_ptr<SimLink> link;
};

// Count of occurrences of needle in text.
size_t CountOf(const std::string &text, const std::string &needle);

inline bool EndsWith(const std::string &text, const std::string &suffix)
{
    return text.size() >= suffix.size() && text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

// The end of a long output, for failure messages.
inline std::string Tail(const std::string &text, size_t n = 120)
{
    return text.size() > n ? text.substr(text.size() - n) : text;
}
