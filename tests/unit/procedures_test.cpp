#include <functional>
#include <numeric>

#include "core/error_codes.h"
#include "memory_files.h"
#include "procedures/program_and_verify.h"
#include "sim_bench.h"

namespace {

using Bytes = std::vector<uint8_t>;

// A bench with an open flash and the session a procedure runs in.
struct ProcedureBench : SimBench {
    ProcedureBench() { OpenFlash(); }
    qz::ProgramOptions options;
    MemoryFiles files;
    qz::Session session{chip, options, files};
};

TEST(ProcedureTest, PreprogramAndEraseRefusesAfterAnyLinkFailure)
{
    ProcedureBench b;
    std::fill(b.sim.flash().begin(), b.sim.flash().end(), 0x5A);
    // A failed read, then a failed write: the first failure is the one reported.
    b.link.fail_if = [](char, uint8_t, uint8_t) { return true; };
    b.chip.ReadRegister(qz::FLASH_STATUS);
    b.chip.WriteRegister(qz::FLASH_MODE, 0);
    b.link.fail_if = nullptr;
    EXPECT_EQ(b.chip.link_failures(), 2u);

    EXPECT_EQ(qz::PreprogramAndErase(b.session, 0x3880, 0x100, qz::EraseExtent::Range), qz::ERR_ADAPTER_READ);
    EXPECT_EQ(b.console.text, "\nLink failure(-322): chip left unchanged\n");
    EXPECT_TRUE(b.link.FlashBlocks().empty());
    EXPECT_TRUE(std::all_of(b.sim.flash().begin(), b.sim.flash().end(), [](uint8_t v) { return v == 0x5A; }));
}

TEST(ProcedureTest, PreprogramAndEraseFollowsTheOptions)
{
    struct Case { uint8_t preprogram_passes; bool complement; bool program_flash; qz::EraseExtent extent;
                  uint32_t programs, reads, sector_erases, full_erases; };
    const Case cases[] = {
        {1, false, true, qz::EraseExtent::Range, 32, 16, 1, 0},
        {3, false, true, qz::EraseExtent::Range, 48, 16, 1, 0},
        {0, false, true, qz::EraseExtent::Range, 0, 0, 1, 0},
        {1, false, false, qz::EraseExtent::Range, 0, 0, 0, 0},
        {0, false, false, qz::EraseExtent::Range, 0, 0, 0, 0},
        {1, true, true, qz::EraseExtent::Range, 16, 8, 1, 0},
        {0, false, true, qz::EraseExtent::WholeFlash, 0, 0, 0, 1},
    };
    for (const Case &c : cases) {
        ProcedureBench b;
        b.options.preprogram_passes = c.preprogram_passes;
        b.options.complement_preprogram = c.complement;
        b.options.program_flash = c.program_flash;
        EXPECT_EQ(qz::PreprogramAndErase(b.session, 0x3880, 0x100, c.extent), 0);
        const qzsim::ChipStats &s = b.sim.stats();
        EXPECT_EQ(s.flash_programs, c.programs) << int(c.preprogram_passes) << c.complement << c.program_flash;
        EXPECT_EQ(s.flash_reads, c.reads);
        EXPECT_EQ(s.flash_sector_erases, c.sector_erases);
        EXPECT_EQ(s.flash_full_erases, c.full_erases);
    }
}

TEST(ProcedureTest, VerifyCountsAPieceWithAFailedTransferAsWhollyDifferent)
{
    using Fail = std::function<bool(char, uint8_t, uint8_t)>;
    // The n-th transfer matching op, page and reg fails.
    const auto nth = [](char op, uint8_t page, uint8_t reg, int n) -> Fail {
        return [=, seen = 0](char o, uint8_t p, uint8_t r) mutable {
            return o == op && p == page && r == reg && ++seen == n;
        };
    };
    // The flips are offsets of a byte made different (0: none).
    struct Case { const char *name; qz::RangeTargets targets; Fail fail; size_t flash_flip, eeprom_flip;
                  uint32_t differences; };
    const Case cases[] = {
        {"clean", {true, true}, nullptr, 0, 0, 0},
        {"flash byte", {true, true}, nullptr, 0x21, 0, 1},
        {"eeprom byte", {true, true}, nullptr, 0, 0x3F, 0x10000},
        {"eeprom not a target", {true, false}, nullptr, 0, 0x3F, 0},
        {"flash not a target", {false, true}, nullptr, 0x21, 0, 0},
        {"flash data read", {true, false}, nth('R', qz::PAGE_FLASH, qz::FLASH_RDATA, 2), 0, 0, 32},
        {"flash read command", {true, false}, nth('W', qz::PAGE_FLASH, qz::FLASH_CMD, 4), 0, 0, 32},
        {"eeprom data read", {true, true}, nth('R', qz::PAGE_I2C_MASTER, qz::I2CM_RDATA, 1), 0, 0, 32u << 16},
        {"eeprom address", {false, true}, nth('W', qz::PAGE_I2C_MASTER, qz::I2CM_WDATA, 3), 0, 0, 32u << 16},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        ProcedureBench b;
        const Bytes data(64, 0x5A);  // two equal pieces: a stale buffer matches
        std::copy(data.begin(), data.end(), b.sim.flash().begin() + 0x200);
        std::copy(data.begin(), data.end(), b.sim.eeprom().data().begin() + 0x200);
        if (c.flash_flip)
            b.sim.flash()[0x200 + c.flash_flip] = 0x5B;
        if (c.eeprom_flip)
            b.sim.eeprom().data()[0x200 + c.eeprom_flip] = 0x00;
        b.link.fail_if = c.fail;
        const qz::VerifyOutcome outcome = qz::VerifyRange(b.chip, 0x0100, data, c.targets);
        EXPECT_EQ(outcome.fault, 0);
        EXPECT_EQ(outcome.differences, c.differences);
        char end[32];
        std::snprintf(end, sizeof end, "  error 0x%08X\n", c.differences);
        EXPECT_TRUE(b.console.text.ends_with(c.differences ? end : "\rVerify....0020  done!\n")) << b.console.text;
    }
}

TEST(ProcedureTest, EachEepromPageIsWrittenAfterItsTwoFlashPieces)
{
    struct Case { qz::RangeTargets targets; uint32_t eeprom_busy_probes; std::string events; };
    const Case cases[] = {
        {{true, true}, 0, "PRPPRPpEPRPPRPpEp"},
        {{true, true}, 2, "PRPPRPpEPRPPRPpppEppp"},
        {{true, false}, 0, "PRPPRPPRPPRP"},
        {{false, true}, 0, "pEpEp"},
    };
    for (const Case &c : cases) {
        ProcedureBench b;
        b.sim.facts().eeprom_busy_probes = c.eeprom_busy_probes;
        b.sim.ApplyFacts();
        Bytes data(64);
        std::iota(data.begin(), data.end(), 0x80);
        EXPECT_EQ(qz::ProgramRange(b.chip, 0x0100, data, 1, c.targets), 0);
        EXPECT_EQ(b.link.Events(), c.events);
        EXPECT_EQ(std::equal(data.begin(), data.end(), b.sim.flash().begin() + 0x200), c.targets.flash);
        EXPECT_EQ(std::equal(data.begin(), data.end(), b.sim.eeprom().data().begin() + 0x200), c.targets.eeprom);
        EXPECT_EQ(b.console.text, "\rProgram...0000\rProgram...0010\rProgram...0020\rProgram...0030  done!\n");
    }
}

}  // namespace
