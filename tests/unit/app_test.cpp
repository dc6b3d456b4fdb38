#include <ctime>

#include "app/json_reporter.h"
#include "app/json_text.h"
#include "app/run_log.h"
#include "core/crc32.h"
#include "sim_link.h"

namespace {

using qz::RunResult;

std::string LogText(const ToolBench &b) { return {b.files.files.at("run.log").begin(), b.files.files.at("run.log").end()}; }

// What the golden runs cannot reach: a failed open or probe and the wait
// before the retry, one lost transfer in a read-out, a disk that fills up,
// and images that differ from the chip's in its key and tail blocks.
TEST(AppTest, RunsEndWithTheirResultLineAndChip)
{
    using Step = std::function<void(ToolBench &)>;
    using Check = std::function<bool(const ToolBench &)>;
    const Check saved = [](const ToolBench &b) {
        return b.files.files.count("out.bin") && b.files.files.at("out.bin") == b.generated.flash;
    };
    const Check not_saved = [](const ToolBench &b) { return !b.files.files.count("out.bin"); };
    // other.bin written: the chip keeps its own key and tail blocks.
    const Check kept_key_and_tail = [](const ToolBench &b) {
        return b.files.writes == 0 && b.FlashHolds(0, 0x7890, b.generated.image) &&
               b.FlashHolds(0x7890, 0x7FE0, b.generated.flash) && b.FlashHolds(0x7FE4, 0x7FEA, b.generated.flash);
    };
    struct Case { std::vector<std::string> args; Step setup; RunResult result; std::string line; int opens;
                  uint32_t slept_ms; Check check; qzsim::ChipVariant variant = qzsim::ChipVariant::Normal; };
    const Case cases[] = {
        {{"-R", "out.bin"}, [](ToolBench &b) { b.link.fail_only = 1000; },
         RunResult::Failure(qz::ERR_ADAPTER_WRITE), "\nLink failure(-321): read-out not saved\n", 1, 0, not_saved},
        // A disk that fills up under the read-out, or under the log.
        {{"-R", "out.bin"}, [](ToolBench &b) { b.files.failing["out.bin"] = qz::WriteStatus::CannotWrite; },
         RunResult::Failure(qz::ERR_OUTPUT_FILE), "error writing out.bin\n", 1, 0, not_saved},
        {{"--log", "run.log", "-R", "out.bin"}, [](ToolBench &b) { b.files.failing["run.log"] = qz::WriteStatus::CannotWrite; },
         RunResult::Failure(qz::ERR_OUTPUT_FILE), "error writing log run.log\n", 1, 0, saved},
        {{"-R", "out.bin"}, [](ToolBench &b) { b.link.failing_opens = 1; },
         RunResult::ReadOutSaved(32768), "\rRead......7FE0  done!\n", 2, 100, saved},
        // A chip that answers its probe only the second time.
        {{"-R", "out.bin"}, [](ToolBench &b) {
             b.link.fail_if = [reads = std::make_shared<int>(0)](char op, uint8_t, uint8_t) {
                 return op == 'R' && (*reads)++ == 1;  // the probe's read-back
             };
         },
         RunResult::ReadOutSaved(32768), "\rRead......7FE0  done!\n", 1, 100, saved},
        {{"-R", "out.bin"}, [](ToolBench &b) { b.link.failing_opens = 2; },
         RunResult::Failure(qz::ERR_CHIP_NOT_FOUND), "Could not find chip(-258)\n", 2, 100, not_saved},
        {{"-R", "out.bin"}, [](ToolBench &b) { b.link.fail_if = [](char op, uint8_t, uint8_t) { return op == 'R'; }; },
         RunResult::Failure(qz::ERR_CHIP_NOT_FOUND), "Could not find chip(-258)\n", 1, 100, not_saved},
        {{"-Mother.bin"}, nullptr, RunResult::Success(), "\rVerify....7FE0  done!\n", 1, 0,
         [](const ToolBench &b) { return b.FlashHolds(0, 0x8000, b.files.files.at("other.bin")) && b.link.closes == 1; }},
        {{"-C", "--skip-unchanged", "-Wother.bin"}, nullptr, RunResult::Success(), "\rVerify....0680  done!\n", 1, 0,
         [=](const ToolBench &b) { return kept_key_and_tail(b) && b.sim.stats().flash_full_erases == 0; }},
        {{"-C", "-Wother.bin"}, nullptr, RunResult::Success(), "\rVerify....7FE0  done!\n", 1, 0, kept_key_and_tail},
        {{"-Bt"}, nullptr, RunResult::Success(), "\rBist......1  done!\n", 1, 400,
         [](const ToolBench &b) { return b.sim.stats().bist_mode_writes == std::vector<uint8_t>{0x70}; },
         qzsim::ChipVariant::Locked},
        // A verify of a chip one byte off the image on each side counts both,
        // logs them, and writes nothing.
        {{"--log", "run.log", "--verify", "fw.bin"}, [](ToolBench &b) {
             std::copy_n(b.generated.image.begin(), 0x7100, b.sim.flash().begin());
             std::copy_n(b.generated.image.begin(), 0x7100, b.sim.eeprom().data().begin());
             b.sim.flash()[0x0100] ^= 0x01;
             b.sim.eeprom().data()[0x2000] ^= 0x80;
         },
         RunResult::Verify(0x00010001), "  error 0x00010001\n", 1, 0,
         [](const ToolBench &b) {
             const std::string line = LogText(b);
             return line.find("\"fw1\":\"1.2.3\",\"fw2\":\"1.2.3\"},\"chip_version\":\"1.2.3\",\"eeprom\":\"found\"") !=
                        std::string::npos &&
                    line.find("\"flash_differences\":1,\"eeprom_differences\":1,") != std::string::npos &&
                    b.sim.stats().flash_programs == 0 && b.sim.eeprom().write_cycles() == 0;
         }},
        // An EEPROM that answers but takes no write is left out, and said so.
        {{"--log", "run.log", "-0", "-U", "fw.bin"}, nullptr, RunResult::Success(),
         "Search....0000  done!\nEEPROM answers but is write-protected: not mirrored\n do nothing!\n", 1, 0,
         [](const ToolBench &b) {
             return LogText(b).find("\"eeprom\":\"write_protected\",\"result\":0,") != std::string::npos;
         },
         qzsim::ChipVariant::EepromProtected},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.line);
        ToolBench b(c.variant);
        if (c.setup)
            c.setup(b);
        EXPECT_EQ(b.Run(c.args), c.result);
        EXPECT_TRUE(b.console.text.ends_with(c.line)) << b.console.text;
        EXPECT_EQ(b.link.opens, c.opens);
        EXPECT_EQ(b.clock.slept_ms, c.slept_ms);
        EXPECT_TRUE(c.check(b)) << b.console.text;
    }
}

// --skip-unchanged writes exactly the flash sectors and EEPROM pages that
// differ, ends as a full run would, and logs what it wrote.
TEST(SkipUnchangedTest, WritesOnlyWhatDiffers)
{
    struct Case { std::vector<size_t> flash_flips, eeprom_flips; uint32_t sector_erases, eeprom_writes;
                  std::string changed; };
    const Case cases[] = {
        {{}, {}, 0, 0, "Changed...0 of 113 sectors, 0 of 904 EEPROM pages\n"},
        {{0x0100}, {}, 1, 0, "Changed...1 of 113 sectors, 0 of 904 EEPROM pages\n"},
        {{}, {0x2000}, 0, 1, "Changed...0 of 113 sectors, 1 of 904 EEPROM pages\n"},
        {{0x0100, 0x01FF, 0x7000}, {0x2000, 0x70FF}, 2, 2, "Changed...2 of 113 sectors, 2 of 904 EEPROM pages\n"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.changed);
        ToolBench b;
        std::copy_n(b.generated.image.begin(), 0x7100, b.sim.flash().begin());
        std::copy_n(b.generated.image.begin(), 0x7100, b.sim.eeprom().data().begin());
        for (size_t at : c.flash_flips)
            b.sim.flash()[at] ^= 0x01;
        for (size_t at : c.eeprom_flips)
            b.sim.eeprom().data()[at] ^= 0x80;
        EXPECT_EQ(b.Run({"--log", "run.log", "--skip-unchanged", "-Ufw.bin"}), RunResult::Success());
        EXPECT_NE(b.console.text.find(c.changed), std::string::npos) << b.console.text;
        EXPECT_EQ(b.sim.stats().flash_sector_erases, c.sector_erases);
        EXPECT_EQ(b.sim.stats().flash_full_erases, 0u);
        // The search's write test writes its test byte and the old one back.
        EXPECT_EQ(b.sim.eeprom().write_cycles(), c.eeprom_writes + 2);
        EXPECT_TRUE(b.FlashHolds(0, 0x7100, b.generated.image));
        EXPECT_TRUE(std::equal(b.generated.image.begin(), b.generated.image.begin() + 0x7100,
                               b.sim.eeprom().data().begin()));
        const std::string written = "\"flash_sectors_written\":" + std::to_string(c.sector_erases) +
                                    ",\"eeprom_pages_written\":" + std::to_string(c.eeprom_writes) + ",";
        EXPECT_NE(LogText(b).find(written), std::string::npos);
    }
    // A link that dies after the first EEPROM page went out left the chip changed.
    ToolBench b;
    std::copy_n(b.generated.image.begin(), 0x7100, b.sim.flash().begin());
    b.link.after_transfer = [&b](const LinkTransfer &t) {
        if (t.Is('W', qz::PAGE_I2C_MASTER, qz::I2CM_WDATA) && t.bytes.size() == 3 + qz::EEPROM_PAGE_BYTES)
            b.link.fail_from = b.link.count + 1;
    };
    EXPECT_FALSE(b.Run({"--skip-unchanged", "-Ufw.bin"}).succeeded());
    EXPECT_TRUE(LastLine(b.console.text).starts_with("Link failure(-32")) << b.console.text;
    EXPECT_FALSE(LastLine(b.console.text).ends_with("unchanged")) << b.console.text;
}

// The log line's pieces: the standard CRC-32 check value, the C library's
// calendar for every day from 1900 to 2200, JSON strings valid for any path
// bytes.
TEST(RunLogTest, CrcTimeAndStringsAreStandard)
{
    const std::string check = "123456789";
    EXPECT_EQ(qz::Crc32(std::span(reinterpret_cast<const uint8_t *>(check.data()), check.size())), 0xCBF43926u);
    for (int64_t day = -25567; day < 84372; ++day) {
        const time_t t = day * 86400 + day * 7919 % 86400;
        std::tm tm{};
        char expected[32];
        std::strftime(expected, sizeof expected, "%Y-%m-%dT%H:%M:%SZ", gmtime_r(&t, &tm));
        ASSERT_EQ(qz::IsoUtcTime(t), expected);
    }
    qz::RunRecord record;
    record.args = {"qz", "-R"};
    const std::string line = qz::FormatRunLog(record, RunResult::ReadOutSaved(32768), 3723456);
    EXPECT_NE(line.find("\"args\":[\"qz\",\"-R\"],\"link\":null,"), std::string::npos) << line;
    EXPECT_TRUE(line.ends_with("\"result\":32768,\"exit_status\":0,\"error\":null,\"flash_differences\":0,"
                               "\"eeprom_differences\":0,\"flash_sectors_written\":null,\"eeprom_pages_written\":null,"
                               "\"seconds\":3723.456}\n")) << line;
    const std::pair<std::string, std::string> strings[] = {
        {"a\"b\\c\td\x7f ~", "a\\\"b\\\\c\\u0009d\x7f ~"},
        {"\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80", "\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80"},
        {"\xC3(\xC0\xAF\xED\xA0\x80\xF4\x90", "\\u00C3(\\u00C0\\u00AF\\u00ED\\u00A0\\u0080\\u00F4\\u0090"},
        {"\xF1\xC0\x80\x80", "\\u00F1\\u00C0\\u0080\\u0080"},
        {"\xC2\x80\xDF\xBF\xE0\xA0\x80\xED\x9F\xBF\xEF\xBF\xBD\xF0\x90\x80\x80\xF4\x8F\xBF\xBF",
         "\xC2\x80\xDF\xBF\xE0\xA0\x80\xED\x9F\xBF\xEF\xBF\xBD\xF0\x90\x80\x80\xF4\x8F\xBF\xBF"},
        {"\xC1\xBF\xE0\x9F\x80\xF4\x90\x80\x80\xF5\x80\x80\x80",
         "\\u00C1\\u00BF\\u00E0\\u009F\\u0080\\u00F4\\u0090\\u0080\\u0080\\u00F5\\u0080\\u0080\\u0080"},
        {"\xF3\x80\x80\xC0", "\\u00F3\\u0080\\u0080\\u00C0"},
        {"\xE2\x82(", "\\u00E2\\u0082("},
    };
    for (const auto &[text, escaped] : strings)
        EXPECT_EQ(qz::JsonString(text), "\"" + escaped + "\"");
}

// Phases of any length: --progress lines prints its begin and end lines and
// at most nine tenths between them, never a "\r"; --json at most 100
// progress events, the last one at the last step.
TEST(ReporterTest, ProgressStaysWithinItsBoundsForAnyLength)
{
    for (const size_t steps : {1u, 19u, 20u, 21u, 99u, 100u, 101u, 1808u}) {
        SCOPED_TRACE(steps);
        qz::StringSink lines_out, json_out;
        qz::TextReporter lines(lines_out, qz::ProgressMode::Lines);
        qz::JsonReporter json(json_out);
        for (qz::Reporter *reporter : std::initializer_list<qz::Reporter *>{&lines, &json}) {
            reporter->PhaseBegin(qz::SteppedPhase("program", steps * 16, 16));
            for (size_t i = 0; i < steps; ++i)
                reporter->Step(i * 16);
            reporter->PhaseEnd(qz::PhaseOutcome::Done);
        }
        EXPECT_EQ(lines_out.text.find('\r'), std::string::npos);
        EXPECT_LE(CountOf(lines_out.text, "\n"), 11u);
        EXPECT_EQ(CountOf(lines_out.text, "\n") > 2, steps >= 20);
        EXPECT_TRUE(lines_out.text.ends_with("  done!\n"));
        EXPECT_EQ(CountOf(json_out.text, "\"event\":\"progress\""), std::min<size_t>(steps, 100));
        EXPECT_NE(json_out.text.find("\"step\":" + std::to_string(steps) + ","), std::string::npos);
    }
}

// A fault within a phase: the text keeps the line end that breaks the "\r"
// line; lines and JSON drop it, and JSON ends the phase as a fault first.
TEST(ReporterTest, AFaultEndsItsPhase)
{
    qz::StringSink text_out, lines_out, json_out;
    qz::TextReporter text(text_out, qz::ProgressMode::Steps), lines(lines_out, qz::ProgressMode::Lines);
    qz::JsonReporter json(json_out);
    for (qz::Reporter *reporter : std::initializer_list<qz::Reporter *>{&text, &lines, &json}) {
        reporter->PhaseBegin(qz::SteppedPhase("verify", 64, 32));
        reporter->Step(0);
        reporter->PhaseEnd(qz::PhaseOutcome::Fault);
        reporter->Print("\n%s(%d)\n", "Link failure", -322);
    }
    EXPECT_EQ(text_out.text, "\rVerify....0000\nLink failure(-322)\n");
    EXPECT_EQ(lines_out.text, "Verify....0000-0020\nLink failure(-322)\n");
    // A message within the phase: the steps after it still count as progress.
    qz::StringSink noted_out;
    qz::TextReporter noted(noted_out, qz::ProgressMode::Lines);
    noted.PhaseBegin(qz::SteppedPhase("verify", 64, 32));
    noted.Print("note\n");
    noted.Step(0);
    noted.Print("\n%s(%d)\n", "Link failure", -322);
    EXPECT_EQ(noted_out.text, "Verify....0000-0020\nnote\nLink failure(-322)\n");
    EXPECT_NE(json_out.text.find("\"outcome\":\"fault\"}\n{\"schema\":1,\"event\":\"message\",\"text\":\"Link failure(-322)\"}\n"),
              std::string::npos);
    // A phase or a result with a phase still open ends that phase first.
    qz::StringSink open_out;
    qz::JsonReporter open(open_out);
    open.PhaseBegin(qz::SteppedPhase("erase", 64, 32));
    open.PhaseBegin(qz::SteppedPhase("verify", 64, 32));
    open.Result("{}");
    EXPECT_NE(open_out.text.find("\"erase\",\"first\":0,\"last\":32,\"steps\":2,\"outcome\":\"fault\"}\n"),
              std::string::npos) << open_out.text;
    EXPECT_TRUE(open_out.text.ends_with("\"outcome\":\"fault\"}\n{\"schema\":1,\"event\":\"result\",\"log\":{}}\n"))
        << open_out.text;
}

}  // namespace
