// A transfer that failed on the link never leads to a write: faults injected
// at the exact transfer of the complement pass, the 0xFF pass, the EEPROM
// write test and a program read-back, and which fault a stuck wait reports.
#include <functional>

#include "core/error_codes.h"
#include "eeprom/eeprom_bridge.h"
#include "flash/flash_command.h"
#include "image/image_layout.h"
#include "flash/flash_program.h"
#include "memory_files.h"
#include "procedures/program_and_verify.h"
#include "sim_bench.h"

namespace {

using namespace qz;

// Fails the n-th transfer (from 1) that matches op/page/reg.
std::function<bool(char, uint8_t, uint8_t)> FailNth(char op, uint8_t page, uint8_t reg, int n)
{
    auto seen = std::make_shared<int>(0);
    return [=](char o, uint8_t p, uint8_t r) { return o == op && p == page && r == reg && ++*seen == n; };
}

int Count(const std::vector<std::string> &blocks, const std::string &prefix)
{
    int n = 0;
    for (const std::string &b : blocks)
        n += b.rfind(prefix, 0) == 0;
    return n;
}

TEST(LinkFaultsNeverWriteTest, ComplementPassNeverProgramsAPieceItCouldNotRead)
{
    SimBench b;
    b.OpenFlash();
    auto &flash = b.sim.flash();
    std::fill(flash.begin() + 0x7100, flash.begin() + 0x7120, 0xF0);
    std::fill(flash.begin() + 0x7120, flash.begin() + 0x7140, 0x0F);
    b.link.fail_if = FailNth('R', PAGE_FLASH, FLASH_RDATA, 2);
    EXPECT_EQ(FlashComplementPreprogram(b.chip, WordAddress(0x7100), 0x40), ERR_ADAPTER_READ);
    EXPECT_TRUE(b.console.text.ends_with("\nLink failure(-322)\n")) << b.console.text;
    EXPECT_TRUE(std::all_of(flash.begin() + 0x7120, flash.begin() + 0x7140, [](uint8_t v) { return v == 0x0F; }));
    EXPECT_EQ(Count(b.link.FlashBlocks(), "05"), 2);  // the first piece only, in two program commands
    EXPECT_EQ(b.chip.fault(), ERR_ADAPTER_READ);
}

TEST(LinkFaultsNeverWriteTest, PreprogramPassThatLostATransferStopsBeforeTheErase)
{
    ProgramOptions complement;
    complement.complement_preprogram = true;
    const ProgramOptions ones;
    struct Case {
        const ProgramOptions &options;
        char op;
        uint8_t reg;
    };
    // A program command's data that never arrived, in each pass.
    for (const Case &c : {Case{complement, 'W', FLASH_WDATA}, Case{ones, 'W', FLASH_WDATA}, Case{ones, 'R', FLASH_RDATA}}) {
        SimBench b;
        b.OpenFlash();
        MemoryFiles files;
        Session session{b.chip, c.options, files};
        b.link.fail_if = FailNth(c.op, PAGE_FLASH, c.reg, 3);
        EXPECT_LT(PreprogramAndErase(session, WordAddress(0x7100), 0x100, EraseExtent::Range), 0);
        EXPECT_EQ(Count(b.link.FlashBlocks(), "03"), 0) << "no sector erase after the failed pass";
        EXPECT_TRUE(b.console.text.ends_with(")\n")) << b.console.text;
        EXPECT_NE(b.console.text.find("\nLink failure(-32"), std::string::npos) << b.console.text;
    }
}

TEST(LinkFaultsNeverWriteTest, EepromWriteTestWritesNothingAfterAFailedRead)
{
    // The read of the old byte: its address phase, its data.
    for (const auto &fail : {FailNth('W', PAGE_I2C_MASTER, I2CM_WDATA, 1), FailNth('R', PAGE_I2C_MASTER, I2CM_RDATA, 1)}) {
        SimBench b;
        b.sim.eeprom().data()[EEPROM_TEST_BYTE_ADDRESS] = 0x3C;
        b.link.fail_if = fail;
        EXPECT_LT(EepromWriteTest(b.chip), 0);
        EXPECT_EQ(b.link.Events().find('E'), std::string::npos) << b.link.Events();
        EXPECT_EQ(b.sim.eeprom().data()[EEPROM_TEST_BYTE_ADDRESS], 0x3C);
    }
}

TEST(LinkFaultsNeverWriteTest, ReadBackWithAFailedReadCommandIsNotClean)
{
    SimBench b;
    b.OpenFlash();
    const std::array<uint8_t, 16> piece{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
    // FLASH_CMD writes: program block, start, clear; then the read-back's block.
    b.link.fail_if = FailNth('W', PAGE_FLASH, FLASH_CMD, 4);
    EXPECT_EQ(ProgramPiece(b.chip, 0x0100, piece, 1), 0);
    // Clean only at the second read-back, so a third pass follows it (the
    // pass rule); counted clean at once it would have been two.
    EXPECT_EQ(Count(b.link.FlashBlocks(), "05"), 3);
}

TEST(LinkFaultsNeverWriteTest, StuckWaitBlamesTheLinkOnlyWhenItStoppedAnswering)
{
    struct Case {
        bool fail_last_reads;
        int code;
        const char *line;
    };
    for (const Case &c : {Case{false, ERR_FLASH_TIMEOUT, "\nFlash controller does not answer(-290)\n"},
                          Case{true, ERR_ADAPTER_READ, "\nLink failure(-322)\n"}}) {
        SimBench b;
        b.OpenFlash();
        b.sim.facts().flash_busy_polls = 1u << 30;
        b.sim.ApplyFacts();
        int status_reads = 0;
        // One passing link error early in the wait; with fail_last_reads the
        // link dies after the fifth poll.
        b.link.fail_if = [&](char op, uint8_t page, uint8_t reg) {
            if (op != 'R' || page != PAGE_FLASH || reg != FLASH_STATUS)
                return false;
            ++status_reads;
            return status_reads == 2 || (c.fail_last_reads && status_reads > 5);
        };
        b.chip.SelectPage(PAGE_FLASH);
        EXPECT_EQ(IssueFlashCommand(b.chip, FLASH_OP_ERASE_ALL, 0, 0), c.code);
        EXPECT_TRUE(b.console.text.ends_with(c.line)) << b.console.text;
    }
}

}  // namespace
