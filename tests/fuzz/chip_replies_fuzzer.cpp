// Whatever a link hands back: every command runs against a link whose reads
// deliver the fuzzer's bytes (versions, status and lock bits, key and info
// blocks, EEPROM bytes, verify data) and whose transfers fail where the
// input says. The first byte picks the command and the link's kind; each
// transfer then takes one control byte (0xF0 and up: the transfer fails)
// and a read its data bytes. When the input runs out, reads return zeros.
// Promises checked after each run:
//   - the run ends (a run past the transfer budget is a hang);
//   - a failure's last line names its code, a verify result prints its
//     count, and no failed run prints the verify's "done!";
//   - a read-out that succeeds saved the whole flash, 32768 bytes.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/commands.h"
#include "core/error_codes.h"
#include "fake_clock.h"
#include "image/image_layout.h"
#include "last_line.h"
#include "memory_files.h"

namespace {

constexpr uint32_t kTransferBudget = 400000;

struct Hang {};

void Require(bool condition, const char *what)
{
    if (!condition) {
        std::fprintf(stderr, "chip_replies_fuzzer: broken promise: %s\n", what);
        std::abort();
    }
}

class ReplyLink final : public qz::ChipLink {
public:
    ReplyLink(const uint8_t *data, size_t size, qz::LinkTraits traits) : data_(data), size_(size), traits_(traits) {}
    bool Open() override { return true; }
    void Close() override {}
    int WriteBlock(int, int, std::span<const uint8_t> bytes) override
    {
        return Fails() ? qz::ERR_ADAPTER_WRITE : static_cast<int>(bytes.size());
    }
    int ReadBlock(int, int, std::span<uint8_t> bytes) override
    {
        const bool fails = Fails();
        for (uint8_t &b : bytes)
            b = Next();
        return fails ? qz::ERR_ADAPTER_READ : static_cast<int>(bytes.size());
    }
    qz::LinkTraits Traits() const override { return traits_; }

private:
    uint8_t Next() { return at_ < size_ ? data_[at_++] : 0; }
    bool Fails()
    {
        if (++transfers_ > kTransferBudget)
            throw Hang{};
        return Next() >= 0xF0;
    }
    const uint8_t *data_;
    size_t size_;
    size_t at_ = 0;
    uint32_t transfers_ = 0;
    qz::LinkTraits traits_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    static const char *const kCommands[] = {"-Ufw.bin", "-Wfw.bin", "-Mfw.bin", "-X0x1234,0x5678",
                                            "-Rout.bin", "-B",      "-V"};
    std::string link = (data[0] & 0x80) ? "-C" : "-S0x1234";
    std::string command = kCommands[(data[0] & 0x7F) % 7];
    std::string name = "qzupgrade";
    std::vector<char *> argv = {name.data(), link.data(), command.data()};
    const qz::LinkTraits traits = {.holds_core = (data[0] & 0x80) != 0, .probes_after_open = (data[0] & 0x80) != 0};

    qz::BufferConsole console;
    FakeClock clock(1);
    FixedWallClock wall_clock;
    MemoryFiles files;
    std::vector<uint8_t> image(qz::IMAGE_SIZE);
    for (size_t i = 0; i < image.size(); ++i)
        image[i] = static_cast<uint8_t>(i * 7 + 3);
    files.files["fw.bin"] = image;
    qz::Environment env{console, clock, files,
                        [&](const qz::LinkSettings &) { return std::make_unique<ReplyLink>(data + 1, size - 1, traits); },
                        wall_clock, console};
    qz::RunResult result = qz::RunResult::Success();
    try {
        result = qz::RunTool(argv, env);
    } catch (const Hang &) {
        Require(false, "the run ends within the transfer budget");
    }
    const std::string last = LastLine(console.text);
    const int value = result.WindowsValue();
    using Kind = qz::RunResult::Kind;
    if (result.kind() == Kind::Failure) {
        const bool refusal = value == qz::ERR_NO_ACCESS_KEY || value == qz::ERR_INFO_MISMATCH ||
                             value == qz::ERR_LOCKED || value == qz::ERR_SELF_TEST_FAILED ||
                             value == qz::ERR_SELF_TEST_TIMEOUT || value == qz::ERR_PARAMETER;
        Require(refusal || last.find("(" + std::to_string(value) + ")") != std::string::npos,
                "a failure's last line names its code");
    } else if (result.kind() == Kind::VerifyDifferences) {
        char count[16];
        std::snprintf(count, sizeof count, "0x%08X", static_cast<unsigned>(value));
        Require(last.ends_with(count), "a verify result prints its count");
    }
    if (!result.succeeded())
        Require(console.text.find("  done!\n", console.text.rfind("Verify....") == std::string::npos
                                                   ? console.text.size()
                                                   : console.text.rfind("Verify....")) == std::string::npos,
                "no failed run prints the verify's done!");
    if (result.kind() == Kind::ReadOutSaved)
        Require(files.files.count("out.bin") && files.files["out.bin"].size() == qz::IMAGE_SIZE,
                "a saved read-out holds the whole flash");
    return 0;
}
