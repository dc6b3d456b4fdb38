// Arbitrary FT_Write byte streams into the D2XX stand-in's MPSSE engine,
// with the pin-level I2C slave and a simulated chip on its bus. The first
// input byte chooses how the rest is cut into FT_Write pieces and whether bad
// commands are answered; the stream itself is the rest.
//
// Besides surviving every stream, the engine must not depend on how a
// stream is cut: the same bytes fed whole and fed in pieces leave the same
// answer bytes, the same pins, clock settings and time, the same bus events
// and the same chip behind it.
//
// Clocking commands can ask for half a million clock edges each; to keep
// the fuzzer fast a stream stops at a budget of pin changes (the same point
// of the same command however the stream is cut). The state up to there is
// compared all the same.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "chip.h"
#include "chip_i2c_target.h"
#include "i2c_bus.h"
#include "i2c_pin_slave.h"
#include "mpsse_engine.h"

namespace {

constexpr uint32_t kPinChangeBudget = 10000;

struct BudgetSpent {};

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

// The board's bus, counting pin changes against the budget.
class BudgetBus : public qzsim::PinBus {
public:
    explicit BudgetBus(qzsim::PinBus &bus) : bus_(bus) {}
    void Drive(bool scl, bool sda, uint64_t time_ps) override
    {
        if (++drives_ > kPinChangeBudget)
            throw BudgetSpent{};
        bus_.Drive(scl, sda, time_ps);
    }
    bool Sda() const override { return bus_.Sda(); }
    bool Scl() const override { return bus_.Scl(); }

private:
    qzsim::PinBus &bus_;
    uint32_t drives_ = 0;
};

// A board with its bus and the chip behind it.
struct Bench {
    qzsim::Chip chip;
    ChipTarget target{chip};
    qzsim::I2cPinSlave slave{target};
    qzsim::I2cBus bus{&slave};
    BudgetBus budget{bus};
    qzsim::MpsseEngine engine{budget};
    std::vector<uint8_t> answers;
    bool spent = false;
    explicit Bench(bool answer_bad_commands)
    {
        engine.Reset();
        engine.set_answer_bad_commands(answer_bad_commands);
    }
    void Feed(const uint8_t *data, size_t n)
    {
        if (spent)
            return;
        try {
            engine.Feed(data, n);
        } catch (const BudgetSpent &) {
            spent = true;
        }
        const std::vector<uint8_t> out = engine.TakeOutput();
        answers.insert(answers.end(), out.begin(), out.end());
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

    // On the heap: two chips with their 32 KB flash and EEPROM are too big
    // for a sanitized stack frame.
    const auto whole_bench = std::make_unique<Bench>(answer_bad);
    const auto cut_bench = std::make_unique<Bench>(answer_bad);
    Bench &whole = *whole_bench, &cut = *cut_bench;
    whole.Feed(stream, n);

    size_t pos = 0;
    for (size_t k = 0; pos < n; ++k) {
        const size_t piece = std::min(n - pos, (k * 5 + (control >> 4)) % piece_limit + 1);
        cut.Feed(stream + pos, piece);
        pos += piece;
    }

    const qzsim::MpsseEngine &a = whole.engine, &b = cut.engine;
    Require(whole.spent == cut.spent, "the budget runs out at the same point");
    Require(whole.answers == cut.answers, "same answer bytes however the stream is cut");
    // An interrupted Feed keeps its whole input, so only a finished one has a
    // tail to compare.
    Require(whole.spent || a.waiting_bytes() == b.waiting_bytes(), "same incomplete tail");
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
