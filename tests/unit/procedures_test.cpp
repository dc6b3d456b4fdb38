#include <numeric>
#include <tuple>

#include "procedures/program_and_verify.h"
#include "sim_link.h"

namespace {

// A bench with an open flash and the session a procedure runs in.
struct ProcedureBench : OpenFlashBench {
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

// A program command's data that never arrived, in the complement pass and
// in the 0xFF pass: no sector is erased after it.
TEST(ProcedureTest, PreprogramPassThatLostATransferStopsBeforeTheErase)
{
    using Case = std::tuple<bool, char, uint8_t>;
    for (const auto &[complement, op, reg] :
         {Case{true, 'W', qz::FLASH_WDATA}, Case{false, 'W', qz::FLASH_WDATA}, Case{false, 'R', qz::FLASH_RDATA}}) {
        ProcedureBench b;
        b.options.complement_preprogram = complement;
        b.link.fail_if = FailNth(op, qz::PAGE_FLASH, reg, 3);
        EXPECT_LT(qz::PreprogramAndErase(b.session, 0x3880, 0x100, qz::EraseExtent::Range), 0);
        EXPECT_EQ(b.link.Events().find('?'), std::string::npos) << b.link.Events();
        EXPECT_TRUE(b.console.text.ends_with(")\n")) << b.console.text;
        EXPECT_NE(b.console.text.find("\nLink failure(-32"), std::string::npos) << b.console.text;
    }
}

TEST(ProcedureTest, VerifyCountsAPieceWithAFailedTransferAsWhollyDifferent)
{
    // The flips are offsets of a byte made different (0: none).
    struct Case { const char *name; qz::RangeTargets targets; FailRule fail; size_t flash_flip, eeprom_flip;
                  uint32_t differences; };
    const Case cases[] = {
        {"clean", {true, true}, nullptr, 0, 0, 0},
        {"flash byte", {true, true}, nullptr, 0x21, 0, 1},
        {"eeprom byte", {true, true}, nullptr, 0, 0x3F, 0x10000},
        {"eeprom not a target", {true, false}, nullptr, 0, 0x3F, 0},
        {"flash not a target", {false, true}, nullptr, 0x21, 0, 0},
        {"flash data read", {true, false}, FailNth('R', qz::PAGE_FLASH, qz::FLASH_RDATA, 2), 0, 0, 32},
        {"flash read command", {true, false}, FailNth('W', qz::PAGE_FLASH, qz::FLASH_CMD, 4), 0, 0, 32},
        {"eeprom data read", {true, true}, FailNth('R', qz::PAGE_I2C_MASTER, qz::I2CM_RDATA, 1), 0, 0, 32u << 16},
        {"eeprom address", {false, true}, FailNth('W', qz::PAGE_I2C_MASTER, qz::I2CM_WDATA, 3), 0, 0, 32u << 16},
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
        const qz::StepResult<uint32_t> outcome = qz::VerifyRange(b.chip, 0x0100, data, c.targets);
        EXPECT_EQ(outcome.fault(), 0);
        EXPECT_EQ(outcome.value(), c.differences);
        char end[32];
        std::snprintf(end, sizeof end, "  error 0x%08X\n", c.differences);
        EXPECT_TRUE(b.console.text.ends_with(c.differences ? end : "\rVerify....0020  done!\n")) << b.console.text;
    }
}

TEST(ProcedureTest, EachEepromPageIsWrittenAfterItsTwoFlashPieces)
{
    const std::pair<uint32_t, std::string> cases[] = {{0, "PRPPRPpEPRPPRPpEp"}, {2, "PRPPRPpEPRPPRPpppEppp"}};
    for (const auto &[eeprom_busy_probes, events] : cases) {
        ProcedureBench b;
        b.sim.facts().eeprom_busy_probes = eeprom_busy_probes;
        b.sim.ApplyFacts();
        Bytes data(64);
        std::iota(data.begin(), data.end(), 0x80);
        EXPECT_EQ(qz::ProgramRange(b.chip, 0x0100, data, 1, {true, true}), 0);
        EXPECT_EQ(b.link.Events(), events);
        EXPECT_TRUE(std::equal(data.begin(), data.end(), b.sim.flash().begin() + 0x200));
        EXPECT_TRUE(std::equal(data.begin(), data.end(), b.sim.eeprom().data().begin() + 0x200));
        EXPECT_EQ(b.console.text, "\rProgram...0000\rProgram...0010\rProgram...0020\rProgram...0030  done!\n");
    }
}

}  // namespace
