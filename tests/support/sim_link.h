#pragma once
#include <gtest/gtest.h>

#include <cstdint>
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
    uint8_t page = 0;
    uint8_t reg = 0;
    std::vector<uint8_t> bytes;  // written, or delivered by the read
    int result = 0;

    bool Is(char o, uint8_t p, uint8_t r) const { return op == o && page == p && reg == r; }
};

using FailRule = std::function<bool(char op, uint8_t page, uint8_t reg)>;

// Fails the n-th transfer (from 1) that matches op, page and reg.
FailRule FailNth(char op, uint8_t page, uint8_t reg, int n);

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

    int write_error = qz::ERR_ADAPTER_WRITE, read_error = qz::ERR_ADAPTER_READ;
    uint32_t fail_from = 0;  // this transfer and all later ones fail
    uint32_t fail_only = 0;  // this transfer alone fails
    // A failing transfer that gets halfway: a write delivers its first half
    // to the chip (a NACK after some bytes), a read returns its first half
    // read from the chip and the rest garbage (a short reply).
    bool fail_halfway = false;
    FailRule fail_if;
    std::function<void(const LinkTransfer &)> after_transfer;
    int failing_opens = 0;  // the first Open calls fail
    int opens = 0, closes = 0;
    std::vector<LinkTransfer> transfers;  // every transfer, while record is set
    bool record = true;
    uint32_t count = 0;

    // Every 5-byte flash command block written, as "03 00 00 38 80".
    std::vector<std::string> FlashBlocks() const;
    // Flash commands and EEPROM accesses in order: P program, R read, E page
    // write, p EEPROM address probe.
    std::string Events() const;

private:
    // reach_chip moves the given number of bytes between the chip and t.
    int Transfer(LinkTransfer t, int dev, const std::function<void(LinkTransfer &, size_t)> &reach_chip);

    qzsim::Chip &chip_;
    qz::LinkTraits traits_;
};

// A fresh simulated chip behind a SimLink, and the Chip, console and clock of
// the run. Each table row builds its own.
struct SimBench {
    explicit SimBench(qz::LinkTraits traits = {}) : link(sim, traits) {}

    // The flash opened with the default key straight on the chip, as an
    // unlock earlier in the run would have.
    void OpenFlash()
    {
        sim.WriteBlock(qz::PAGE_KEY, qz::KEY_DATA, qz::kDefaultAccessKey.data(), qz::kDefaultAccessKey.size());
        ASSERT_TRUE(sim.key_accepted());
    }

    qzsim::Chip sim;
    SimLink link;
    qz::BufferConsole console;
    FakeClock clock;
    qz::Chip chip{link, 0xF4, console, clock};
};

void LoadGenerated(qzsim::Chip &chip, const qzsim::GeneratedChip &generated);
std::string HexLine(std::span<const uint8_t> bytes);
size_t CountOf(const std::string &text, const std::string &needle);

// Hands the bench's link to RunTool, which owns the links it makes.
class LinkHandle final : public qz::ChipLink {
public:
    explicit LinkHandle(qz::ChipLink &link) : link_(link) {}
    bool Open() override { return link_.Open(); }
    void Close() override { link_.Close(); }
    int WriteBlock(int dev, int reg, std::span<const uint8_t> data) override { return link_.WriteBlock(dev, reg, data); }
    int ReadBlock(int dev, int reg, std::span<uint8_t> data) override { return link_.ReadBlock(dev, reg, data); }
    qz::LinkTraits Traits() const override { return link_.Traits(); }

private:
    qz::ChipLink &link_;
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
