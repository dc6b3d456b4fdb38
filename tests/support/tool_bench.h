#pragma once
#include <bitset>
#include <string>
#include <vector>

#include "app/commands.h"
#include "memory_files.h"
#include "sim_link.h"

using Bytes = std::vector<uint8_t>;

// Hands the bench's link to RunTool, which owns the links it makes.
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
        qz::Environment env{console, clock, files,
                            [this](const qz::LinkSettings &settings) {
                                made.push_back(settings);
                                return std::make_unique<LinkHandle>(link);
                            },
                            wall_clock, console};
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
    std::vector<qz::LinkSettings> made;
};
