#pragma once
#include <cstdint>

// The four operations every chip link provides.
//
// Open:  1 when the link is ready, 0 when not; prints the link's own message
//        where it has one. Returns 1 at once while the link is already open.
// Close: releases whatever the link holds; safe on a link that failed to
//        open, and twice in a row.
// WriteBlock / ReadBlock (dev, reg, data, len):
//        dev is the chip's 8-bit I2C address (write form); the USB link
//        ignores it. Byte k of data goes to (comes from) register reg + k of
//        the selected page; a link that cuts the transfer into pieces
//        advances the register by each piece. len 0 transfers nothing and
//        returns 0. Returns len on success or the link's negative error code
//        at the first failing piece (earlier pieces have been transferred).
//        Register 0x00 of every page is PAGE_SELECT.
struct ChipLink {
    int (*Open)();
    void (*Close)();
    int (*WriteBlock)(int dev, int reg, const uint8_t *data, uint8_t len);
    int (*ReadBlock)(int dev, int reg, uint8_t *data, uint8_t len);
};

// The link bound for this run (by Connect, or by a test).
extern ChipLink chip_link;

extern const ChipLink kFtdiLink;
extern const ChipLink kIicLink;
extern const ChipLink kUsbLink;
