// Placeholder until the FT232H link lands: it never opens.
#include <cstdio>

#include "app/error_codes.h"
#include "link/chip_link.h"

static int FtdiOpen() { return 0; }
static void FtdiClose() {}
static int FtdiWriteBlock(int, int, const uint8_t *, uint8_t) { return ERR_FT232H_WRITE; }
static int FtdiReadBlock(int, int, uint8_t *, uint8_t) { return ERR_FT232H_READ; }

const ChipLink kFtdiLink = {
    .Open = FtdiOpen,
    .Close = FtdiClose,
    .WriteBlock = FtdiWriteBlock,
    .ReadBlock = FtdiReadBlock,
};
