// Whatever a link hands back: a command runs against a link whose transfers
// each take a control byte of the input (0xF0 and up: the transfer fails) and
// whose reads then take their data bytes (zeros once the input runs out). The
// first byte picks the command and the link's kind. Promises:
//   - the run ends within 400000 transfers;
//   - a failure's last line names its code, a verify result prints its
//     count, and no failed run prints the verify's "done!";
//   - a read-out that succeeds saved the whole flash, 32768 bytes.
#include "app/text_reporter.h"
#include "app/commands.h"
#include "core/error_codes.h"
#include "fuzz_target.h"
#include "test_doubles.h"

namespace qz {
namespace {

struct ReplyLink final : ChipLink {
    ReplyLink(std::span<const uint8_t> replies, LinkTraits traits) : replies_(replies), traits_(traits) {}
    bool Open() override { return true; }
    void Close() override {}
    int WriteBlock(int, int, std::span<const uint8_t> bytes) override { return Transfer(bytes, ERR_ADAPTER_WRITE); }
    int ReadBlock(int, int, std::span<uint8_t> bytes) override
    {
        const int status = Transfer(bytes, ERR_ADAPTER_READ);
        for (uint8_t &b : bytes)
            b = Next();
        return status;
    }
    LinkTraits Traits() const override { return traits_; }
    uint8_t Next() { return at_ < replies_.size() ? replies_[at_++] : 0; }
    int Transfer(std::span<const uint8_t> bytes, int error)
    {
        Require(++transfers_ <= 400000, "the run ends within 400000 transfers");
        return Next() >= 0xF0 ? error : static_cast<int>(bytes.size());
    }
    std::span<const uint8_t> replies_;
    size_t at_ = 0;
    uint32_t transfers_ = 0;
    LinkTraits traits_;
};

}  // namespace

void FuzzOne(std::span<const uint8_t> input)
{
    if (input.empty())
        return;
    static const char *const kCommands[] = {"-Ufw.bin", "-Wfw.bin", "-Mfw.bin", "-X0x1234,0x5678",
                                            "-Rout.bin", "-B",      "-V"};
    const bool iic = input[0] & 0x80;
    std::string name = "qzupgrade", link = iic ? "-C" : "-S0x1234", command = kCommands[(input[0] & 0x7F) % 7];
    std::vector<char *> argv = {name.data(), link.data(), command.data()};
    const LinkTraits traits{.holds_core = iic, .probes_after_open = iic};

    BufferConsole console;
    FakeClock clock(1);
    FixedWallClock wall_clock;
    MemoryFiles files;
    files.files["fw.bin"] = PatternImage();
    Environment env{console, clock, files,
                    [&](const LinkSettings &, Console &) { return std::make_unique<ReplyLink>(input.subspan(1), traits); },
                    wall_clock, console};
    const RunResult result = RunTool(argv, env);
    const std::string last = LastLine(console.text);
    const int value = result.WindowsValue();
    if (result.kind() == RunResult::Kind::Failure) {
        const bool refusal = value == ERR_NO_ACCESS_KEY || value == ERR_INFO_MISMATCH || value == ERR_LOCKED ||
                             value == ERR_SELF_TEST_FAILED || value == ERR_SELF_TEST_TIMEOUT || value == ERR_PARAMETER;
        Require(refusal || last.find("(" + std::to_string(value) + ")") != std::string::npos,
                "a failure's last line names its code");
    } else if (result.kind() == RunResult::Kind::VerifyDifferences) {
        char count[16];
        std::snprintf(count, sizeof count, "0x%08X", static_cast<unsigned>(value));
        Require(last.ends_with(count), "a verify result prints its count");
    }
    const bool verified = console.text.find("  done!\n", console.text.rfind("Verify....")) != std::string::npos;
    Require(result.succeeded() || !verified, "no failed run prints the verify's done!");
    if (result.kind() == RunResult::Kind::ReadOutSaved)
        Require(files.files["out.bin"].size() == IMAGE_SIZE, "a saved read-out holds the whole flash");
}

}  // namespace qz
