#include <gtest/gtest.h>

#include <bitset>
#include <functional>

#include "app/commands.h"
#include "app/json_text.h"
#include "app/run_log.h"
#include "core/crc32.h"
#include "core/error_codes.h"
#include "tool_bench.h"

namespace {

using qz::RunResult;

TEST(AppTest, ReadOutIsSavedWholeOrSaysWhyNot)
{
    struct Case { std::function<void(ToolBench &)> setup; RunResult result; std::string last_line; bool saved;
                  int opens; uint32_t slept_ms; };
    const Case cases[] = {
        {[](ToolBench &) {}, RunResult::ReadOutSaved(32768), "\rRead......7FE0  done!\n", true, 1, 0},
        {[](ToolBench &b) { b.files.unwritable = {"out.bin"}; }, RunResult::Failure(qz::ERR_OUTPUT_FILE),
         "error openning out.bin\n", false, 1, 0},
        {[](ToolBench &b) { b.files.failing = {"out.bin"}; }, RunResult::Failure(qz::ERR_OUTPUT_FILE),
         "error writing out.bin\n", false, 1, 0},
        {[](ToolBench &b) { b.link.fail_only = 1000; }, RunResult::Failure(qz::ERR_ADAPTER_WRITE),
         "\nLink failure(-321): read-out not saved\n", false, 1, 0},
        {[](ToolBench &b) {
             b.link.fail_from = 1000;
             b.link.write_error = qz::ERR_USB_WRITE;
             b.link.read_error = qz::ERR_USB_READ;
         },
         RunResult::Failure(qz::ERR_USB_READ), "\nLink failure(-362)\n", false, 1, 0},
        {[](ToolBench &b) { b.link.failing_opens = 1; }, RunResult::ReadOutSaved(32768), "  done!\n", true, 2, 100},
        {[](ToolBench &b) { b.link.failing_opens = 2; }, RunResult::Failure(qz::ERR_CHIP_NOT_FOUND),
         "Could not find chip(-258)\n", false, 2, 100},
        {[](ToolBench &b) { b.link.fail_reads = true; }, RunResult::Failure(qz::ERR_CHIP_NOT_FOUND),
         "Could not find chip(-258)\n", false, 1, 100},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.last_line);
        ToolBench b;
        c.setup(b);
        EXPECT_EQ(b.Run({"-R", "out.bin"}), c.result);
        EXPECT_TRUE(b.console.text.ends_with(c.last_line)) << b.console.text;
        EXPECT_EQ(b.files.files.count("out.bin") && b.files.files["out.bin"] == b.generated.flash, c.saved);
        EXPECT_EQ(b.link.opens, c.opens);
        EXPECT_EQ(b.clock.slept_ms, c.slept_ms);
    }
}

TEST(AppTest, CommandsEndWithTheirResultAndLine)
{
    using Check = std::function<bool(const ToolBench &)>;
    const Check untouched = [](const ToolBench &b) { return b.FlashHolds(0, 0x8000, b.generated.flash); };
    // line: found in the output; check: what the run left.
    struct Case { std::vector<std::string> args; qzsim::ChipVariant variant; RunResult result; std::string line;
                  Check check; };
    const Case cases[] = {
        {{"-F", "-Umissing.bin"}, qzsim::ChipVariant::Normal, RunResult::ArgumentIndex(2),
         "Fail to open file missing.bin\n",
         [](const ToolBench &b) { return b.made.empty(); }},
        {{"-W", "empty.bin"}, qzsim::ChipVariant::Normal, RunResult::ArgumentIndex(2), "error reading empty.bin(0)\n",
         [](const ToolBench &b) { return b.made.empty(); }},
        {{"-Vfw.bin"}, qzsim::ChipVariant::Normal, RunResult::ArgumentIndex(1), "FW1 V1:2:3 FW2 V1:2:3 in fw.bin\n",
         [](const ToolBench &b) { return b.made.empty(); }},
        {{"-V"}, qzsim::ChipVariant::Normal, RunResult::Failure(qz::ERR_PARAMETER), "Running FW V1.1.3\n",
         [](const ToolBench &b) { return !b.made.at(0).usb.switch_to_update; }},
        {{"-A0x20", "-Ufw.bin"}, qzsim::ChipVariant::Normal, RunResult::Failure(qz::ERR_CHIP_NOT_FOUND),
         "Could not find chip(-258)\n", untouched},
        {{"-Ufw.bin"}, qzsim::ChipVariant::Locked, RunResult::Failure(qz::ERR_LOCKED),
         "Empty flash or incompatible firmware, please flash the whole image.\n", untouched},
        {{"-Ufw.bin"}, qzsim::ChipVariant::ForeignInfo, RunResult::Failure(qz::ERR_INFO_MISMATCH),
         "Empty flash or incompatible firmware, please flash the whole image.\n", untouched},
        {{"-Ufw.bin"}, qzsim::ChipVariant::EepromOtherKind, RunResult::Failure(qz::ERR_INFO_MISMATCH),
         "Search....AA00  done!\nEmpty flash", untouched},
        {{"-Ufw.bin"}, qzsim::ChipVariant::Normal, RunResult::Success(), "in fw.bin\nRunning FW V1.1.3\n",
         [](const ToolBench &b) {
             const auto &eeprom = b.sim.eeprom().data();
             return b.FlashHolds(0, 0x7100, b.generated.image) && b.FlashHolds(0x7100, 0x8000, b.generated.flash) &&
                    std::equal(eeprom.begin(), eeprom.begin() + 0x7100, b.generated.image.begin()) &&
                    b.sim.stats().core_ctrl_writes.back() == 0xFF && b.made.at(0).usb.image_svid == 0x1234 &&
                    b.made.at(0).usb.image_pid == 0x4850 && b.made[0].usb.switch_to_update && b.link.closes > 0;
         }},
        {{"-Ufw.DAT"}, qzsim::ChipVariant::Normal, RunResult::Success(), "\rVerify....70E0  done!\n",
         [](const ToolBench &b) { return b.FlashHolds(0, 0x7100, b.generated.image); }},
        {{"-I12345678", "-X0x1"}, qzsim::ChipVariant::Normal, RunResult::Failure(qz::ERR_NO_ACCESS_KEY),
         "  error inf\nNo access key accepted: customer block left unchanged\n", untouched},
        {{"-Mother.bin"}, qzsim::ChipVariant::Normal, RunResult::Success(), "\rVerify....7FE0  done!\n",
         [](const ToolBench &b) { return b.FlashHolds(0, 0x8000, b.files.files.at("other.bin")); }},
        {{"-C", "-Wother.bin"}, qzsim::ChipVariant::Normal, RunResult::Success(), "\rVerify....7FE0  done!\n",
         [](const ToolBench &b) {
             return b.made.at(0).kind == qz::LinkKind::I2cAdapter && b.files.writes == 0 &&
                    b.FlashHolds(0, 0x7890, b.generated.image) && b.FlashHolds(0x7890, 0x7FE0, b.generated.flash) &&
                    b.FlashHolds(0x7FE4, 0x7FEA, b.generated.flash);
         }},
        {{"-DQZDBG", "-Wfw.bin"}, qzsim::ChipVariant::Normal, RunResult::Success(), "\rVerify....7FE0  done!\n",
         [](const ToolBench &b) {
             return b.files.files.at("qzkeyimg.bin").size() + b.files.files.at("chiptmp.bin").size() == 0x10000;
         }},
        {{"-F", "-X0x1111,0x2222"}, qzsim::ChipVariant::Normal, RunResult::Success(), "Target VendorID: 1111, 2222\n",
         [](const ToolBench &b) {
             const uint8_t *block = b.sim.flash().data() + 0x7100;
             return b.made.at(0).kind == qz::LinkKind::Ft232h && qzsim::GetLe16(block) == 0x2222 &&
                    qzsim::GetLe16(block + 146) == 0x1111 && qzsim::GetLe16(block + 158) == qzsim::Sum16(block, 158);
         }},
        {{"-B", "fw.bin"}, qzsim::ChipVariant::Normal, RunResult::Success(), "\rBist......1  done!\n",
         [](const ToolBench &b) {
             const qzsim::Key4 image_key = qzsim::DeriveImageKey(qzsim::InfoKeyWord(b.generated.image.data()));
             return b.made.at(0).usb.image_svid == 0x1234 && b.sim.stats().keys_written == std::vector{image_key};
         }},
        {{"-Bt"}, qzsim::ChipVariant::Locked, RunResult::Success(), "\rBist......1  done!\n",
         [](const ToolBench &b) { return b.sim.stats().bist_mode_writes == std::vector<uint8_t>{0x70}; }},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.args.back());
        ToolBench b(c.variant);
        b.files.files["empty.bin"] = {};
        EXPECT_EQ(b.Run(c.args).WindowsValue(), c.result.WindowsValue());
        EXPECT_NE(b.console.text.find(c.line), std::string::npos) << b.console.text;
        EXPECT_TRUE(c.check(b)) << b.console.text;
    }
}

}  // namespace

// The log line's pieces: the standard CRC-32 check value, calendar dates
// across leap days and centuries, JSON strings valid for any path bytes.
TEST(RunLogTest, CrcTimeAndStringsAreStandard)
{
    const std::string check = "123456789";
    EXPECT_EQ(qz::Crc32(std::span(reinterpret_cast<const uint8_t *>(check.data()), check.size())), 0xCBF43926u);
    EXPECT_EQ(qz::IsoUtcTime(0), "1970-01-01T00:00:00Z");
    EXPECT_EQ(qz::IsoUtcTime(951782400), "2000-02-29T00:00:00Z");
    EXPECT_EQ(qz::IsoUtcTime(4107542399), "2100-02-28T23:59:59Z");
    EXPECT_EQ(qz::JsonString("a\"b\\c\td\x7f"), "\"a\\\"b\\\\c\\u0009d\x7f\"");
    EXPECT_EQ(qz::JsonString(" ~"), "\" ~\"");
    qz::RunRecord record;
    record.args = {"qz", "-R"};
    const std::string line = qz::FormatRunLog(record, RunResult::ReadOutSaved(32768), 61234);
    EXPECT_NE(line.find("\"args\":[\"qz\",\"-R\"],\"link\":null,"), std::string::npos) << line;
    EXPECT_TRUE(line.ends_with("\"result\":32768,\"exit_status\":0,\"error\":null,\"flash_differences\":0,"
                               "\"eeprom_differences\":0,\"seconds\":61.234}\n")) << line;
    EXPECT_EQ(qz::JsonString("\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80"), "\"\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80\"");
    EXPECT_EQ(qz::JsonString("\xC3(\xC0\xAF\xED\xA0\x80\xF4\x90"), "\"\\u00C3(\\u00C0\\u00AF\\u00ED\\u00A0\\u0080\\u00F4\\u0090\"");
}
