#include "chip/chip.h"

#include "core/error_codes.h"

namespace qz {

int Chip::Counted(int result)
{
    if (result < 0) {
        if (link_failures_++ == 0)
            first_link_error_ = result;
        last_link_error_ = result;
    }
    return result;
}

int Chip::WriteRegisters(uint8_t reg, std::span<const uint8_t> bytes)
{
    return Counted(link_.WriteBlock(i2c_address_, reg, bytes));
}

int Chip::ReadRegisters(uint8_t reg, std::span<uint8_t> bytes)
{
    return Counted(link_.ReadBlock(i2c_address_, reg, bytes));
}

int Chip::RaiseFault(int code)
{
    if (fault_ == 0) {
        fault_ = code;
        console_.PhaseEnd(PhaseOutcome::Fault);
        const ErrorInfo *error = FindError(code);
        const char *text = error && error->fault_text ? error->fault_text : kLinkFailureText;
        if (text == kLinkFailureText && link_failure_outcome_)
            console_.Print("\n%s(%d): %s\n", text, code, link_failure_outcome_);
        else
            console_.Print("\n%s(%d)\n", text, code);
    }
    return fault_;
}

int Chip::FailureSoFar()
{
    if (fault_ == 0 && link_failures_ != 0)
        RaiseFault(first_link_error_);
    return fault_;
}

int Chip::WaitFault(int timeout_code, bool last_read_failed)
{
    return RaiseFault(last_read_failed ? last_link_error_ : timeout_code);
}

uint8_t Chip::ReadStatus(uint8_t reg, bool &read_failed)
{
    uint8_t value = 0;
    read_failed = ReadRegisters(reg, std::span<uint8_t>(&value, 1)) < 0;
    return value;
}

bool Chip::WaitExpired(uint32_t start_ms, uint32_t polls, uint32_t timeout_ms, uint32_t min_polls)
{
    return polls >= min_polls && static_cast<uint32_t>(clock_.NowMs() - start_ms) >= timeout_ms;
}

}  // namespace qz
