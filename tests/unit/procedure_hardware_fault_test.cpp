#include <chrono>

#include "app/error_codes.h"
#include "flash/hardware_fault.h"
#include "flash/register_map.h"
#include "flash/self_test.h"
#include "procedures/customer_svid.h"
#include "procedures/read_out.h"
#include "procedures/upgrade_firmware.h"
#include "procedures/whole_image.h"
#include "sim_link.h"

namespace {

using Bytes = std::vector<uint8_t>;
using Clock = std::chrono::steady_clock;

constexpr uint32_t kForever = 0xFFFFFFFF;

class ProcedureHardwareFaultTest : public SimChipTest {
protected:
    void SetUp() override
    {
        SimChipTest::SetUp();
        generated = qzsim::GenerateChip(qzsim::GenerateOptions{});
        UseGeneratedChip(generated);
    }
    template <typename Fn>
    int Run(Fn fn, std::string *out)
    {
        int result = 0;
        const auto start = Clock::now();
        *out = CapturePrinted([&] { result = fn(); });
        elapsed_ms = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
        return result;
    }
    // Nothing after the fault line says done, and the fault line is the last.
    static void ExpectEndsWithFault(const std::string &out, const std::string &line)
    {
        const size_t at = out.find(line);
        ASSERT_NE(at, std::string::npos) << Tail(out);
        EXPECT_EQ(at + line.size(), out.size()) << Tail(out);
        EXPECT_EQ(CountOf(out, "does not"), 1u);
    }

    qzsim::GeneratedChip generated;
    long long elapsed_ms = 0;
};

TEST_F(ProcedureHardwareFaultTest, EraseThatNeverFinishesStopsTheWholeImageWithoutRestart)
{
    link->after_transfer = [this](const LinkTransfer &t) {
        if (t.Is('W', PAGE_FLASH, FLASH_CMD) && t.bytes == Bytes{FLASH_OP_ERASE_ALL, 0, 0, 0, 0})
            chip.facts().flash_busy_polls = kForever;
    };
    std::string out;
    EXPECT_EQ(Run([] { return ProgramWholeImage(WHOLE_IMAGE_KEEP_CHIP_DATA); }, &out), ERR_FLASH_TIMEOUT);
    ExpectEndsWithFault(out, "Erase.....0000\nFlash controller does not answer(-290)\n");
    EXPECT_LT(elapsed_ms, 4000);
    EXPECT_EQ(link->CoreCtrlWrites(), (Bytes{0xFD, 0xFD}));
    EXPECT_EQ(link->FlashBlocks().back(), (Bytes{FLASH_OP_ERASE_ALL, 0, 0, 0, 0}));
    EXPECT_EQ(last_verify_result, 0);
}

TEST_F(ProcedureHardwareFaultTest, ProgramThatNeverFinishesStopsTheUpgrade)
{
    link->after_transfer = [this](const LinkTransfer &t) {
        if (t.Is('W', PAGE_FLASH, FLASH_CMD) && t.bytes.size() == 5 && t.bytes[0] == FLASH_OP_PROGRAM &&
            t.bytes[4] == 0x40)
            chip.facts().flash_busy_polls = kForever;
    };
    settings.preprogram_passes = 0;
    std::string out;
    EXPECT_EQ(Run(UpgradeFirmware, &out), ERR_FLASH_TIMEOUT);
    ExpectEndsWithFault(out, "\rProgram...0080\nFlash controller does not answer(-290)\n");
    EXPECT_EQ(out.find("Empty flash"), std::string::npos);
    EXPECT_EQ(link->CoreCtrlWrites(), (Bytes{0xFD, 0xFD}));
}

TEST_F(ProcedureHardwareFaultTest, DeadBridgeStopsTheUpgradeBeforeAnyErase)
{
    chip.facts().bridge_busy_polls = kForever;
    std::string out;
    EXPECT_EQ(Run(UpgradeFirmware, &out), ERR_BRIDGE_TIMEOUT);
    ExpectEndsWithFault(out, "\nEEPROM bridge does not answer(-291)\n");
    EXPECT_LT(elapsed_ms, 3000);
    EXPECT_EQ(out.find("Search...."), std::string::npos);
    EXPECT_EQ(chip.stats().flash_sector_erases, 0u);
}

TEST_F(ProcedureHardwareFaultTest, EepromStuckInItsWriteCycleStopsTheSvidProgramming)
{
    link->after_transfer = [this](const LinkTransfer &t) {
        if (t.Is('W', PAGE_I2C_MASTER, I2CM_WDATA) && t.bytes.size() == 35)
            chip.eeprom().set_busy_probes(kForever);
    };
    target_svid1 = 0x1234;
    std::string out;
    EXPECT_EQ(Run(ProgramCustomerSvid, &out), ERR_EEPROM_BUSY);
    ExpectEndsWithFault(out, "\rProgram...0030\nEEPROM does not finish its write cycle(-292)\n");
    EXPECT_LT(elapsed_ms, 3000);
    EXPECT_EQ(link->CoreCtrlWrites(), (Bytes{0xFD, 0xFD}));
}

TEST_F(ProcedureHardwareFaultTest, EepromStuckDuringTheSearchStopsTheWholeImageBeforeErasing)
{
    chip.facts().eeprom_busy_probes = kForever;
    chip.ApplyFacts();
    std::string out;
    EXPECT_EQ(Run([] { return ProgramWholeImage(WHOLE_IMAGE_AS_LOADED); }, &out), ERR_EEPROM_BUSY);
    ExpectEndsWithFault(out, "\nEEPROM does not finish its write cycle(-292)\n");
    EXPECT_EQ(chip.stats().flash_full_erases + chip.stats().flash_programs, 0u);
}

TEST_F(ProcedureHardwareFaultTest, ReadOutAndSelfTestReturnTheFaultOfTheUnlock)
{
    chip.facts().flash_busy_polls = kForever;
    std::string out;
    EXPECT_EQ(Run(ReadOutFlash, &out), ERR_FLASH_TIMEOUT);
    ExpectEndsWithFault(out, "\rRead......0000\nFlash controller does not answer(-290)\n");
    EXPECT_EQ(link->CoreCtrlWrites(), Bytes{0xFD});

    EXPECT_EQ(Run([] { return RunBist(nullptr); }, &out), ERR_FLASH_TIMEOUT);
    EXPECT_EQ(chip.stats().bist_starts, 0u);
    EXPECT_LT(elapsed_ms, 500);  // the fault holds: no second wait
}

}  // namespace
