// The command line as anyone may type it: the input is split at newlines
// into arguments for RunTool. No chip can be reached (every link fails to
// open), so every command that needs one ends at the connect; options,
// numbers, access keys, SVID lists and image files named in the arguments
// are all parsed for real, against files in memory. Promises checked after
// each run:
//   - nothing succeeds without a chip but --help and --version, and the exit
//     status of anything else is never 0;
//   - an argument-index result is at most argc - 1 (or the argument count 1
//     of a run without arguments);
//   - a failure is one of the two a run without a chip can give:
//     ERR_PARAMETER, ERR_CHIP_NOT_FOUND;
//   - no file is written.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/commands.h"
#include "core/error_codes.h"
#include "image/image_layout.h"
#include "fake_clock.h"
#include "memory_files.h"

namespace {

constexpr size_t kMaxArguments = 64;

void Require(bool condition, const char *what)
{
    if (!condition) {
        std::fprintf(stderr, "command_line_fuzzer: broken promise: %s\n", what);
        std::abort();
    }
}

// A link whose library never loads.
class AbsentLink final : public qz::ChipLink {
public:
    bool Open() override { return false; }
    void Close() override {}
    int WriteBlock(int, int, std::span<const uint8_t>) override { return qz::ERR_USB_WRITE; }
    int ReadBlock(int, int, std::span<uint8_t>) override { return qz::ERR_USB_READ; }
    qz::LinkTraits Traits() const override { return {}; }
};

MemoryFiles ScratchFiles()
{
    MemoryFiles files;
    std::vector<uint8_t> image(qz::IMAGE_SIZE);
    for (size_t i = 0; i < image.size(); ++i)
        image[i] = static_cast<uint8_t>(i * 7 + 3);
    auto text = [](const std::string &s) { return std::vector<uint8_t>(s.begin(), s.end()); };
    files.files["fw.bin"] = image;
    files.files["empty.bin"] = {};
    files.files["fw.dat"] = text("00010001\n1\n10101010\n# comment\n11111111\n");
    files.files["fw.DAT"] = text("no digits here\n");
    return files;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    std::vector<std::string> words = {"qzupgrade"};
    std::string current;
    for (size_t i = 0; i < size && words.size() < kMaxArguments; ++i) {
        if (data[i] == '\n') {
            words.push_back(current);
            current.clear();
        } else {
            current += static_cast<char>(data[i]);
        }
    }
    if (size > 0 && words.size() < kMaxArguments)
        words.push_back(current);
    // An embedded NUL ends the argument early, as it would on a real argv.
    std::vector<char *> argv;
    for (std::string &w : words)
        argv.push_back(w.data());
    const int argc = static_cast<int>(argv.size());

    qz::BufferConsole console;
    FakeClock clock(50);
    MemoryFiles files = ScratchFiles();
    FixedWallClock wall_clock;
    qz::Environment env{console, clock, files, [](const qz::LinkSettings &) { return std::make_unique<AbsentLink>(); },
                        wall_clock, console};
    const qz::RunResult result = qz::RunTool(argv, env);

    using Kind = qz::RunResult::Kind;
    if (result.succeeded()) {
        Require(console.text.find("--version: Print") != std::string::npos || console.text.rfind("qzupgrade ", 0) == 0,
                "only --help and --version succeed without a chip");
        Require(files.writes == 0, "no file was written");
        return 0;
    }
    Require(result.PosixExitStatus() != 0, "the exit status is not 0");
    if (result.kind() == Kind::ArgumentIndex) {
        const int index = result.WindowsValue();
        Require(argc == 1 ? index == 1 : (index >= 1 && index <= argc - 1), "an argument index within the line");
    } else {
        Require(result.kind() == Kind::Failure, "no chip work was done");
        Require(result.WindowsValue() == qz::ERR_PARAMETER || result.WindowsValue() == qz::ERR_CHIP_NOT_FOUND,
                "only parameter or not-found errors");
    }
    Require(files.writes == 0, "no file was written");
    return 0;
}
