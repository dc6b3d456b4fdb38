#include "core/error_codes.h"

namespace qz {

const ErrorInfo *FindError(int code)
{
    for (const ErrorInfo &row : kErrorTable) {
        if (row.code == code)
            return &row;
    }
    return nullptr;
}

}  // namespace qz
