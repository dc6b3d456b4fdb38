// Arbitrary FT_Write byte streams into the D2XX stand-in's MPSSE engine,
// with the pin-level I2C slave and a simulated chip on its bus. The first
// input byte chooses how the rest is cut into FT_Write pieces and whether bad
// commands are answered; the stream itself is the rest.
//
// Besides surviving every stream, the engine must not depend on how a
// stream is cut: the same bytes fed whole and fed in pieces leave the same
// answer bytes, the same pins, clock settings and time, the same bus events
// and the same chip behind it. The incomplete tail it keeps is never longer
// than the longest command (a byte-mode shift of 65536 bytes and its header).
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "chip.h"
#include "chip_i2c_target.h"
#include "i2c_bus.h"
#include "i2c_pin_slave.h"
#include "mpsse_engine.h"

namespace {

constexpr size_t kLongestCommand = 3 + 65536;

void Require(bool condition, const char *what)
{
    if (!condition) {
        std::fprintf(stderr, "mpsse_stream_fuzzer: broken promise: %s\n", what);
        std::abort();
    }
}

class ChipTarget : public qzsim::I2cByteTarget {
public:
    explicit ChipTarget(qzsim::Chip &chip) : target_(chip) {}
    void Start() override { target_.Start(); }
    bool Address(uint8_t addr8) override { return target_.AddressByte(addr8); }
    bool Write(uint8_t b) override { return target_.WriteByte(b); }
    uint8_t Read() override { return target_.ReadByte(); }
    void Stop() override { target_.Stop(); }

private:
    qzsim::ChipI2cTarget target_;
};

// A board with its bus and the chip behind it.
struct Bench {
    qzsim::Chip chip;
    ChipTarget target{chip};
    qzsim::I2cPinSlave slave{target};
    qzsim::I2cBus bus{&slave};
    qzsim::MpsseEngine engine{bus};
    std::vector<uint8_t> answers;
    explicit Bench(bool answer_bad_commands)
    {
        engine.Reset();
        engine.set_answer_bad_commands(answer_bad_commands);
    }
    void Feed(const uint8_t *data, size_t n)
    {
        engine.Feed(data, n);
        const std::vector<uint8_t> out = engine.TakeOutput();
        answers.insert(answers.end(), out.begin(), out.end());
        Require(engine.waiting_bytes() <= kLongestCommand, "the kept tail is one incomplete command");
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1)
        return 0;
    const uint8_t control = data[0];
    const bool answer_bad = (control & 0x80) == 0;
    const size_t piece_limit = (control & 0x0F) + 1;
    const uint8_t *stream = data + 1;
    const size_t n = size - 1;

    Bench whole(answer_bad);
    whole.Feed(stream, n);

    Bench cut(answer_bad);
    size_t pos = 0;
    for (size_t k = 0; pos < n; ++k) {
        const size_t piece = std::min(n - pos, (k * 5 + (control >> 4)) % piece_limit + 1);
        cut.Feed(stream + pos, piece);
        pos += piece;
    }

    const qzsim::MpsseEngine &a = whole.engine, &b = cut.engine;
    Require(whole.answers == cut.answers, "same answer bytes however the stream is cut");
    Require(a.waiting_bytes() == b.waiting_bytes(), "same incomplete tail");
    Require(a.low_value() == b.low_value() && a.low_direction() == b.low_direction(), "same pins");
    Require(a.divisor() == b.divisor() && a.divide_by_5() == b.divide_by_5() && a.three_phase() == b.three_phase() &&
                a.adaptive() == b.adaptive() && a.loopback() == b.loopback(),
            "same clock settings");
    Require(a.time_ps() == b.time_ps(), "same time on the bus");
    Require(whole.slave.starts() == cut.slave.starts() && whole.slave.stops() == cut.slave.stops() &&
                whole.slave.repeated_starts() == cut.slave.repeated_starts(),
            "same bus events");
    Require(whole.chip.current_page() == cut.chip.current_page() && whole.chip.flash() == cut.chip.flash() &&
                whole.chip.stats().i2c_address_phases == cut.chip.stats().i2c_address_phases,
            "same chip state");
    return 0;
}
