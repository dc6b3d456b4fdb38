#pragma once
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

#include "chip.h"
#include "core/error_codes.h"
#include "image_gen.h"
#include "link/chip_link.h"

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

// A link to an in-process simulated chip through its I2C register port.
// Records every transfer and fails the ones the test picks: they return the
// link's error code without reaching the chip. Transfers count from 1. A
// transfer to another I2C address than the chip's fails as a NACK would.
class SimLink final : public qz::ChipLink {
public:
    explicit SimLink(qzsim::Chip &chip, qz::LinkTraits traits = {}) : chip_(chip), traits_(traits) {}

    bool Open() override { return ++opens > failing_opens; }
    void Close() override { ++closes; }
    int WriteBlock(int dev, int reg, std::span<const uint8_t> data) override;
    int ReadBlock(int dev, int reg, std::span<uint8_t> data) override;
    qz::LinkTraits Traits() const override { return traits_; }

    int write_error = qz::ERR_ADAPTER_WRITE;
    int read_error = qz::ERR_ADAPTER_READ;
    uint32_t fail_from = 0;  // this transfer and all later ones fail
    uint32_t fail_only = 0;  // this transfer alone fails
    bool fail_reads = false;
    // A failing transfer that gets halfway: a write delivers its first half
    // to the chip (a NACK after some bytes), a read returns its first half
    // read from the chip and the rest garbage (a short reply).
    bool fail_halfway = false;
    std::function<bool(char op, uint8_t page, uint8_t reg)> fail_if;
    // Sees each transfer once it is recorded (e.g. to let time pass).
    std::function<void(const LinkTransfer &)> after_transfer;
    int failing_opens = 0;  // the first Open calls fail
    int opens = 0;
    int closes = 0;
    std::vector<LinkTransfer> transfers;  // every transfer, while record is set
    bool record = true;
    uint32_t count = 0;  // transfers made

    // Every 5-byte flash command block written, as "03 00 00 38 80".
    std::vector<std::string> FlashBlocks() const;
    // Flash commands and EEPROM accesses in order: P program, R read, E page
    // write, p EEPROM address probe.
    std::string Events() const;
    // The first count transfers, one line each: "W 05 30 85".
    std::string Dump(size_t count) const;

private:
    // reach_chip moves the given number of bytes between the chip and t.
    int Transfer(LinkTransfer t, int dev, const std::function<void(LinkTransfer &, size_t)> &reach_chip);

    qzsim::Chip &chip_;
    qz::LinkTraits traits_;
};

// Hands a link the test keeps to code that owns the links it makes.
class LinkHandle final : public qz::ChipLink {
public:
    explicit LinkHandle(qz::ChipLink &link) : link_(link) {}
    bool Open() override { return link_.Open(); }
    void Close() override { link_.Close(); }
    int WriteBlock(int dev, int reg, std::span<const uint8_t> data) override
    {
        return link_.WriteBlock(dev, reg, data);
    }
    int ReadBlock(int dev, int reg, std::span<uint8_t> data) override { return link_.ReadBlock(dev, reg, data); }
    qz::LinkTraits Traits() const override { return link_.Traits(); }

private:
    qz::ChipLink &link_;
};

// Fills a simulated chip (flash, EEPROM, facts) from a generated one.
void LoadGenerated(qzsim::Chip &chip, const qzsim::GeneratedChip &generated);

std::string HexLine(std::span<const uint8_t> bytes);
size_t CountOf(const std::string &text, const std::string &needle);
