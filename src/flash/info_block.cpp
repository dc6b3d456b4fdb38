#include "flash/info_block.h"

#include <algorithm>

#include "core/error_codes.h"

namespace qz {

// Stores the sum of bytes 0-29 in bytes 30-31; returns whether it matched the
// value stored there before.
static bool RenewInfoChecksum(uint8_t *info)
{
    const uint16_t sum = Checksum16(std::span<const uint8_t>(info, INFO_CHECKSUMMED_SIZE));
    const bool matched = GetLe16(info + INFO_CHECKSUM) == sum;
    PutLe16(info + INFO_CHECKSUM, sum);
    return matched;
}

int CheckInfoBlock(InfoBlock chip_info, std::span<uint8_t> image)
{
    uint8_t *image_info = image.data() + INFO_BLOCK_OFFSET;
    std::copy_n(chip_info.begin() + INFO_CHIP_BYTES, INFO_CHIP_BYTES_SIZE, image_info + INFO_CHIP_BYTES);
    RenewInfoChecksum(image_info);
    if (!RenewInfoChecksum(chip_info.data()))
        return ERR_INFO_MISMATCH;
    return std::equal(chip_info.begin(), chip_info.begin() + INFO_CHECKSUMMED_SIZE, image_info) ? 0
                                                                                                : ERR_INFO_MISMATCH;
}

}  // namespace qz
