#include <chrono>

#include "app/error_codes.h"
#include "eeprom/eeprom_bridge.h"
#include "flash/flash_command.h"
#include "flash/flash_program.h"
#include "flash/flash_verify.h"
#include "flash/flash_read_erase.h"
#include "flash/hardware_fault.h"
#include "flash/register_map.h"
#include "sim_link.h"

namespace {

using Bytes = std::vector<uint8_t>;
using Clock = std::chrono::steady_clock;

constexpr uint32_t kForever = 0xFFFFFFFF;

// The tool's tick count and the test's clock may tick apart by a few ms.
constexpr long long kClockSlackMs = 20;

long long MsSince(Clock::time_point start)
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

class HardwareFaultTest : public SimChipTest {
protected:
    void SetUp() override
    {
        SimChipTest::SetUp();
        OpenFlash();
    }
};

TEST_F(HardwareFaultTest, FlashStatusThatNeverFinishesEndsTheReadWithItsCode)
{
    chip.facts().flash_busy_polls = kForever;
    Bytes dest(64);
    int result = 0;
    const auto start = Clock::now();
    const std::string out = CapturePrinted([&] { result = FlashRead(0x0000, dest.data(), dest.size()); });
    const auto elapsed = MsSince(start);

    EXPECT_EQ(result, ERR_FLASH_TIMEOUT);
    EXPECT_EQ(hardware_fault, ERR_FLASH_TIMEOUT);
    EXPECT_EQ(out, "\rRead......0000\nFlash controller does not answer(-290)\n");
    EXPECT_GE(elapsed + kClockSlackMs, static_cast<long long>(kFlashStatusTimeoutMs));
    EXPECT_LT(elapsed, 3000);
    EXPECT_GE(link->Matching('R', PAGE_FLASH, FLASH_STATUS).size(), kFlashStatusMinPolls);
    EXPECT_EQ(link->FlashBlocks().size(), 1u);
}

TEST_F(HardwareFaultTest, LaterOperationsNeitherPollNorReportAgain)
{
    chip.facts().flash_busy_polls = kForever;
    CapturePrinted([] { IssueFlashCommand(FLASH_OP_READ, 16, 0); });
    link->transfers.clear();

    const Bytes data(64, 0x11);
    std::string out = CapturePrinted([&] {
        EXPECT_EQ(IssueFlashCommand(FLASH_OP_READ, 16, 0), ERR_FLASH_TIMEOUT);
        EXPECT_EQ(FlashEraseAll(), ERR_FLASH_TIMEOUT);
        EXPECT_EQ(FlashEraseRange(0, 0x200), ERR_FLASH_TIMEOUT);
        EXPECT_EQ(FlashProgram(0, data.data(), data.size()), ERR_FLASH_TIMEOUT);
        EXPECT_EQ(FlashVerify(0, data.data(), data.size()), ERR_FLASH_TIMEOUT);
        EXPECT_EQ(FlashComplementPreprogram(0, 64), ERR_FLASH_TIMEOUT);
        EXPECT_EQ(EepromTransfer(CMD_STOP, 0), ERR_FLASH_TIMEOUT);
        EXPECT_EQ(EepromWaitReady(), ERR_FLASH_TIMEOUT);
    });
    EXPECT_EQ(out.find("done!"), std::string::npos) << out;
    EXPECT_EQ(out.find("does not answer"), std::string::npos) << out;
    EXPECT_TRUE(link->FlashBlocks().empty());
    EXPECT_TRUE(link->Matching('R', PAGE_FLASH, FLASH_STATUS).empty());
    EXPECT_EQ(last_verify_result, 0);

    ResetHardwareFault();
    chip.facts().flash_busy_polls = 1;
    EXPECT_EQ(IssueFlashCommand(FLASH_OP_READ, 16, 0), 0);
}

TEST_F(HardwareFaultTest, DeadLinkEndsWithTheLinksErrorNotAsSuccess)
{
    // Every status read fails on the link: the wait ends as a link failure,
    // not as a chip that does not answer.
    link->fail_from = 1;
    const Bytes data(32, 0x00);  // what a failed read would leave in a cleared buffer
    int result = 0;
    const std::string out = CapturePrinted([&] { result = FlashVerify(0, data.data(), data.size()); });
    EXPECT_EQ(result, ERR_ADAPTER_READ);
    EXPECT_EQ(out, "\rVerify....0000\nLink failure(-322)\n");
}

TEST_F(HardwareFaultTest, BridgeThatNeverFinishesEndsWithItsCode)
{
    chip.facts().bridge_busy_polls = kForever;
    int result = 0;
    const auto start = Clock::now();
    const std::string out = CapturePrinted([&] { result = EepromTransfer(CMD_STOP, 0); });
    const auto elapsed = MsSince(start);
    EXPECT_EQ(result, ERR_BRIDGE_TIMEOUT);
    EXPECT_EQ(out, "\nEEPROM bridge does not answer(-291)\n");
    EXPECT_GE(elapsed + kClockSlackMs, static_cast<long long>(kBridgeStatusTimeoutMs));
    EXPECT_LT(elapsed, 2500);
    uint8_t byte = 0;
    EXPECT_EQ(EepromRead(0, &byte, 1), ERR_BRIDGE_TIMEOUT);
    EXPECT_EQ(EepromWriteTest(), ERR_BRIDGE_TIMEOUT);
}

TEST_F(HardwareFaultTest, EepromThatNeverLeavesItsWriteCycleStopsTheMirror)
{
    settings.program_flash = 0;
    eeprom_mirror = 1;
    chip.facts().eeprom_busy_probes = kForever;
    chip.ApplyFacts();
    const Bytes data(0x100, 0x42);
    int result = 0;
    const auto start = Clock::now();
    const std::string out = CapturePrinted([&] { result = FlashProgram(0x3880, data.data(), data.size()); });
    const auto elapsed = MsSince(start);

    EXPECT_EQ(result, ERR_EEPROM_BUSY);
    EXPECT_TRUE(EndsWith(out, "\rProgram...0030\nEEPROM does not finish its write cycle(-292)\n")) << out;
    EXPECT_GE(elapsed + kClockSlackMs, static_cast<long long>(kEepromBusyTimeoutMs));
    EXPECT_LT(elapsed, 2000);
    size_t page_writes = 0;
    for (const auto &t : link->Matching('W', PAGE_I2C_MASTER, I2CM_WDATA))
        page_writes += t.bytes.size() == 35;
    EXPECT_EQ(page_writes, 1u);
}

}  // namespace
