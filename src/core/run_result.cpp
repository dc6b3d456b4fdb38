#include "core/run_result.h"

#include <algorithm>

#include "core/error_codes.h"

namespace qz {

int RunResult::PosixExitStatus() const
{
    switch (kind_) {
    case Kind::Success:
    case Kind::ReadOutSaved:
        return 0;
    case Kind::ArgumentIndex:
        return static_cast<int>(std::min<uint32_t>(value_, kExitArgumentIndexMax));
    case Kind::VerifyDifferences: {
        const bool flash = (value_ & 0xFFFFu) != 0;
        const bool eeprom = (value_ >> 16) != 0;
        if (flash && eeprom)
            return kExitFlashAndEepromDifferences;
        return eeprom ? kExitEepromDifferences : kExitFlashDifferences;
    }
    case Kind::Failure:
        break;
    }
    const ErrorInfo *error = FindError(WindowsValue());
    return error ? error->exit_status : kExitUnknownError;
}

}  // namespace qz
