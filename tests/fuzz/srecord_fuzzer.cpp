// Motorola S-record files as a hostile user hands them over; the promises
// checked are in record_format_checks.h.
#include "record_format_checks.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    qzfuzz::CheckRecordFormat({data, size}, {qz::ParseSRecord, qz::FormatSRecord},
                              {qz::ParseIntelHex, qz::FormatIntelHex});
    return 0;
}
