// Intel HEX files as a hostile user hands them over; the promises checked
// are in record_format_checks.h.
#include "record_format_checks.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    qzfuzz::CheckRecordFormat({data, size}, {qz::ParseIntelHex, qz::FormatIntelHex},
                              {qz::ParseSRecord, qz::FormatSRecord});
    return 0;
}
