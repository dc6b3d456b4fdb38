#pragma once

namespace qz {

// The two shapes a step of the chip work gives back. A step without a value
// returns a status: 0 when it did its job, else its error code (the run's
// fault or the link's error). A step with a value returns a StepResult: the
// value, or the fault that ended the step before it had one.
template <typename T>
class [[nodiscard]] StepResult {
public:
    static constexpr StepResult Of(T value) { return StepResult(value, 0); }
    static constexpr StepResult Failed(int fault) { return StepResult(T{}, fault); }

    constexpr bool ok() const { return fault_ == 0; }
    // 0, or the error code that ended the step.
    constexpr int fault() const { return fault_; }
    // What the step gave; meaningful only when ok().
    constexpr T value() const { return value_; }

private:
    constexpr StepResult(T value, int fault) : value_(value), fault_(fault) {}
    T value_;
    int fault_;
};

}  // namespace qz
