// The command line as anyone may type it: the input, split at newlines, is
// the arguments of RunTool. Every link fails to open, so a command that
// needs the chip ends at the connect; options, numbers, access keys, SVID
// lists and the image files in memory are all parsed for real. Promises:
//   - only --help and --version succeed, and only a success exits with 0;
//   - an argument-index result is at most argc - 1 (1 without arguments);
//   - a failure is ERR_PARAMETER or ERR_CHIP_NOT_FOUND; no file is written.
#include <algorithm>
#include <iterator>
#include <string_view>

#include "app/text_reporter.h"
#include "app/commands.h"
#include "core/error_codes.h"
#include "fuzz_target.h"
#include "test_doubles.h"

namespace qz {
namespace {

struct AbsentLink final : ChipLink {
    bool Open() override { return false; }
    void Close() override {}
    int WriteBlock(int, int, std::span<const uint8_t>) override { return ERR_USB_WRITE; }
    int ReadBlock(int, int, std::span<uint8_t>) override { return ERR_USB_READ; }
    LinkTraits Traits() const override { return {}; }
};

}  // namespace

void FuzzOne(std::span<const uint8_t> input)
{
    // An embedded NUL ends its argument early, as it would in a real argv.
    const std::string line(input.begin(), input.end());
    std::vector<std::string> words = {"qzupgrade"};
    for (size_t at = 0, end; !input.empty() && at <= line.size() && words.size() < 64; at = end + 1) {
        end = std::min(line.find('\n', at), line.size());
        words.push_back(line.substr(at, end - at));
    }
    std::vector<char *> argv;
    std::transform(words.begin(), words.end(), std::back_inserter(argv), [](std::string &w) { return w.data(); });

    MemoryFiles files;
    const std::string dat = "00010001\n1\n10101010\n# comment\n11111111\n", no_digits = "no digits here\n";
    files.files = {{"fw.bin", PatternImage()}, {"empty.bin", {}}, {"fw.dat", {dat.begin(), dat.end()}},
                   {"fw.DAT", {no_digits.begin(), no_digits.end()}}};
    BufferConsole console;
    FakeClock clock(50);
    FixedWallClock wall_clock;
    Environment env{console, clock, files, [](const LinkSettings &, Console &) { return std::make_unique<AbsentLink>(); },
                    wall_clock, console};
    const RunResult result = RunTool(argv, env);

    const int value = result.WindowsValue();
    if (result.succeeded())
        Require(std::find(argv.begin() + 1, argv.end(), std::string_view("--help")) != argv.end() ||
                    std::find(argv.begin() + 1, argv.end(), std::string_view("--version")) != argv.end(),
                "only --help and --version succeed without a chip");
    else if (result.kind() == RunResult::Kind::ArgumentIndex)
        Require(value >= 1 && value <= std::max<int>(1, argv.size() - 1), "an argument index within the line");
    else
        Require(result.kind() == RunResult::Kind::Failure && (value == ERR_PARAMETER || value == ERR_CHIP_NOT_FOUND),
                "only parameter or not-found errors");
    Require(result.succeeded() == (result.PosixExitStatus() == 0), "only a success exits with 0");
    Require(files.writes == 0, "no file is written");
}

}  // namespace qz
