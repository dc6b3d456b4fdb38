#include "procedures/chip_data.h"

#include "core/bytes.h"
#include "flash/flash_read_erase.h"
#include "image/image_files.h"

namespace qz {

static constexpr const char *kKeyDumpFile = "qzkeyimg.bin";

// Replaces the image's key block with the chip's and renews its checksum.
static int TakeKeyBlockFromChip(Session &session, std::span<uint8_t> image)
{
    Chip &chip = session.chip;
    FlashRead(chip, WordAddress(KEY_BLOCK_OFFSET), image.subspan(KEY_BLOCK_OFFSET, KEY_BLOCK_SIZE));
    if (const int fault = chip.FailureSoFar())
        return fault;
    uint8_t *stored = image.data() + KEY_CHECKSUM_OFFSET;
    const uint16_t sum = Checksum16(image.subspan(KEY_BLOCK_OFFSET, KEY_DATA_SIZE));
    const uint16_t chip_sum = GetLe16(stored);
    PutLe16(stored, sum);
    if (sum != chip_sum)
        chip.console().Write("Invalid key in chip\n");
    else if (session.options.dump_images)
        SaveImage(session.files, chip.console(), kKeyDumpFile, image);
    return 0;
}

int TakeKeyAndTailBlocks(Session &session, std::span<uint8_t> image)
{
    if (const int fault = TakeKeyBlockFromChip(session, image))
        return fault;
    FlashRead(session.chip, WordAddress(TAIL_BLOCK_OFFSET), image.subspan(TAIL_BLOCK_OFFSET, TAIL_BLOCK_SIZE));
    return session.chip.FailureSoFar();
}

int ReadCustomerBlock(Chip &chip, uint16_t svid1, uint16_t svid2, std::array<uint8_t, CUSTOMER_BLOCK_SIZE> &block)
{
    if (const int read = FlashRead(chip, WordAddress(CUSTOMER_BLOCK_OFFSET), block); read < 0)
        return read;
    PutLe16(block.data() + CUSTOMER_SVID1, svid1);
    PutLe16(block.data() + CUSTOMER_SVID2, svid2);
    PutLe16(block.data() + CUSTOMER_CHECKSUM,
            Checksum16(std::span<const uint8_t>(block).first(CUSTOMER_CHECKSUMMED_SIZE)));
    return 0;
}

}  // namespace qz
