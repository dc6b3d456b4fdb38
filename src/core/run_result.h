#pragma once
#include <cstdint>

namespace qz {

// How a run ended. Windows hands the whole int to the caller as the exit
// status; POSIX hosts keep only 8 bits, so there every kind maps to a status
// of its own and no failure truncates to 0.
class [[nodiscard]] RunResult {
public:
    enum class Kind {
        Success,            // the command did its job
        ReadOutSaved,       // -R saved the whole flash; the value is its byte count
        ArgumentIndex,      // stopped before the chip; the value is an argument index
        Failure,            // the value is an ErrorCode
        VerifyDifferences,  // flash differences in bits 15-0, EEPROM differences in bits 31-16
    };

    static constexpr RunResult Success() { return {Kind::Success, 0}; }
    static constexpr RunResult ReadOutSaved(int bytes) { return {Kind::ReadOutSaved, static_cast<uint32_t>(bytes)}; }
    static constexpr RunResult ArgumentIndex(int index) { return {Kind::ArgumentIndex, static_cast<uint32_t>(index)}; }
    static constexpr RunResult Failure(int code) { return {Kind::Failure, static_cast<uint32_t>(code)}; }
    static constexpr RunResult Verify(uint32_t differences)
    {
        return differences == 0 ? Success() : RunResult{Kind::VerifyDifferences, differences};
    }
    // A step's status: 0 is success, anything else an error code.
    static constexpr RunResult FromStatus(int status) { return status == 0 ? Success() : Failure(status); }

    Kind kind() const { return kind_; }
    bool succeeded() const { return kind_ == Kind::Success || kind_ == Kind::ReadOutSaved; }
    int WindowsValue() const { return static_cast<int>(value_); }
    int PosixExitStatus() const;

    friend bool operator==(const RunResult &, const RunResult &) = default;

private:
    constexpr RunResult(Kind kind, uint32_t value) : kind_(kind), value_(value) {}
    Kind kind_;
    uint32_t value_;
};

inline constexpr int kExitArgumentIndexMax = 63;
inline constexpr int kExitFlashDifferences = 64;
inline constexpr int kExitEepromDifferences = 65;
inline constexpr int kExitFlashAndEepromDifferences = 66;
inline constexpr int kExitUnknownError = 120;

}  // namespace qz
