#pragma once
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <span>
#include <string>
#include <vector>

#include "chip.h"
#include "chip/chip.h"
#include "chip/register_map.h"
#include "app/commands.h"
#include "app/text_reporter.h"
#include "core/error_codes.h"
#include "flash/access_key.h"
#include "image_gen.h"
#include "link/chip_link.h"
#include "test_doubles.h"

using Bytes = std::vector<uint8_t>;

// One WriteBlock or ReadBlock as the tool made it, with the page the chip had
// selected when it arrived.
struct LinkTransfer {
    char op = 0;  // 'W' or 'R'
    uint8_t page = 0, reg = 0;
    std::vector<uint8_t> bytes;  // written, or delivered by the read
    int result = 0;
    bool Is(char o, uint8_t p, uint8_t r) const { return op == o && page == p && reg == r; }
};

using FailRule = std::function<bool(char op, uint8_t page, uint8_t reg)>;

// Fails the n-th transfer (from 1) that matches op, page and reg.
inline FailRule FailNth(char op, uint8_t page, uint8_t reg, int n)
{
    return [=, seen = 0](char o, uint8_t p, uint8_t r) mutable {
        return o == op && p == page && r == reg && ++seen == n;
    };
}

inline std::string HexLine(std::span<const uint8_t> bytes)
{
    std::string out;
    char hex[4];
    for (uint8_t b : bytes) {
        std::snprintf(hex, sizeof hex, out.empty() ? "%02X" : " %02X", b);
        out += hex;
    }
    return out;
}

inline size_t CountOf(const std::string &text, const std::string &needle)
{
    size_t n = 0;
    for (size_t at = text.find(needle); at != std::string::npos; at = text.find(needle, at + needle.size()))
        ++n;
    return n;
}

// A link to an in-process simulated chip through its I2C register port.
// Records every transfer and fails the ones the test picks: they return the
// link's error code without reaching the chip. Transfers count from 1. A
// transfer to another I2C address than the chip's fails as a NACK would.
class SimLink final : public qz::ChipLink {
public:
    explicit SimLink(qzsim::Chip &chip, qz::LinkTraits traits = {}) : chip_(chip), traits_(traits) {}

    bool Open() override { return ++opens > failing_opens; }
    void Close() override { ++closes; }
    int WriteBlock(int dev, int reg, std::span<const uint8_t> data) override
    {
        return Transfer({'W', chip_.current_page(), static_cast<uint8_t>(reg), {data.begin(), data.end()},
                         static_cast<int>(data.size())}, dev,
                        [&](LinkTransfer &t, size_t count) { chip_.WriteBlockCurrent(t.reg, data.data(), count); });
    }
    int ReadBlock(int dev, int reg, std::span<uint8_t> data) override
    {
        return Transfer({'R', chip_.current_page(), static_cast<uint8_t>(reg), {}, static_cast<int>(data.size())}, dev,
                        [&](LinkTransfer &t, size_t count) {
                            chip_.ReadBlockCurrent(t.reg, data.data(), count);
                            std::fill(data.begin() + static_cast<long>(count), data.end(), 0xA5);
                            t.bytes.assign(data.begin(), data.end());
                        });
    }
    qz::LinkTraits Traits() const override { return traits_; }

    int write_error = qz::ERR_ADAPTER_WRITE, read_error = qz::ERR_ADAPTER_READ;
    uint32_t fail_from = 0;  // this transfer and all later ones fail
    uint32_t fail_only = 0;  // this transfer alone fails
    // A failing transfer that gets halfway: a write delivers its first half
    // to the chip (a NACK after some bytes), a read returns its first half
    // read from the chip and the rest garbage (a short reply).
    bool fail_halfway = false;
    FailRule fail_if;
    std::function<void(const LinkTransfer &)> after_transfer;
    int failing_opens = 0, opens = 0, closes = 0;  // the first failing_opens Open calls fail
    std::vector<LinkTransfer> transfers;  // every transfer, while record is set
    bool record = true;
    uint32_t count = 0;

    // Every 5-byte flash command block written, as "03 00 00 38 80".
    std::vector<std::string> FlashBlocks() const
    {
        std::vector<std::string> out;
        for (const auto &t : transfers)
            if (t.Is('W', qz::PAGE_FLASH, qz::FLASH_CMD) && t.bytes.size() == 5)
                out.push_back(HexLine(t.bytes));
        return out;
    }
    // Flash commands and EEPROM accesses in order: P program, R read, E page
    // write, p EEPROM address probe.
    std::string Events() const
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

private:
    // reach_chip moves the given number of bytes between the chip and t.
    int Transfer(LinkTransfer t, int dev, const std::function<void(LinkTransfer &, size_t)> &reach_chip)
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

    qzsim::Chip &chip_;
    qz::LinkTraits traits_;
};

// A fresh simulated chip behind a SimLink, and the Chip, console and clock of
// the run. Each table row builds its own.
struct SimBench {
    explicit SimBench(qz::LinkTraits traits = {}) : link(sim, traits) {}

    qzsim::Chip sim;
    SimLink link;
    qz::BufferConsole console;
    FakeClock clock;
    qz::Chip chip{link, 0xF4, console, clock};
};

// A SimBench whose flash is open with the default key, written straight to
// the chip as an unlock earlier in the run would have.
struct OpenFlashBench : SimBench {
    OpenFlashBench()
    {
        sim.WriteBlock(qz::PAGE_KEY, qz::KEY_DATA, qz::kDefaultAccessKey.data(), qz::kDefaultAccessKey.size());
        EXPECT_TRUE(sim.key_accepted());
    }
};

inline void LoadGenerated(qzsim::Chip &chip, const qzsim::GeneratedChip &generated)
{
    chip.facts() = generated.facts;
    chip.ApplyFacts();
    std::copy(generated.flash.begin(), generated.flash.end(), chip.flash().begin());
    std::copy(generated.eeprom.begin(), generated.eeprom.end(), chip.eeprom().data().begin());
}

// Hands the bench's link to RunTool, which owns the links it makes.
struct LinkHandle final : qz::ChipLink {
    explicit LinkHandle(qz::ChipLink &to) : link(to) {}
    bool Open() override { return link.Open(); }
    void Close() override { link.Close(); }
    int WriteBlock(int dev, int reg, std::span<const uint8_t> data) override { return link.WriteBlock(dev, reg, data); }
    int ReadBlock(int dev, int reg, std::span<uint8_t> data) override { return link.ReadBlock(dev, reg, data); }
    qz::LinkTraits Traits() const override { return link.Traits(); }
    qz::ChipLink &link;
};

// A whole run in-process: the simulated chip of a generated one behind a
// SimLink that reaches it over I2C, its new image as fw.bin.
struct ToolBench {
    // Also other.bin: the image with another chip's key and tail blocks.
    explicit ToolBench(qzsim::ChipVariant variant = qzsim::ChipVariant::Normal)
        : ToolBench(qzsim::GenerateChip({.variant = variant}))
    {
        Bytes other = generated.image;
        std::fill(other.begin() + 0x7890, other.begin() + 0x7FE0, 0x77);
        files.files["other.bin"] = other;
    }
    explicit ToolBench(const qzsim::GeneratedChip &chip,
                       qz::LinkTraits traits = {.holds_core = true, .probes_after_open = true})
        : generated(chip), link(sim, traits)
    {
        LoadGenerated(sim, generated);
        files.files["fw.bin"] = generated.image;
    }

    qz::RunResult Run(std::vector<std::string> args)
    {
        args.insert(args.begin(), "qz");
        std::vector<char *> argv;
        for (std::string &a : args)
            argv.push_back(a.data());
        const auto make_link = [this](const qz::LinkSettings &, qz::Console &) { return std::make_unique<LinkHandle>(link); };
        qz::Environment env{console, clock, files, make_link, wall_clock, console};
        return qz::RunTool(argv, env);
    }

    bool FlashHolds(size_t from, size_t to, const Bytes &bytes) const
    {
        return std::equal(sim.flash().begin() + static_cast<long>(from), sim.flash().begin() + static_cast<long>(to),
                          bytes.begin() + static_cast<long>(from));
    }

    qzsim::GeneratedChip generated;
    qzsim::Chip sim;
    SimLink link;
    qz::BufferConsole console;
    FakeClock clock;
    FixedWallClock wall_clock;
    MemoryFiles files;
};
