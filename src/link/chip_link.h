#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <span>
#include <vector>

#include "link/device_choice.h"

namespace qz {

// Register 0x00 of every page of the chip selects the page that the
// following accesses go to.
inline constexpr uint8_t PAGE_SELECT = 0x00;

// What differs between links, reported as data.
struct LinkTraits {
    // The link reaches the chip over I2C and holds the chip's core
    // (CORE_CTRL) while the flash or the EEPROM is worked on.
    bool holds_core = false;
    // An open link proves nothing: a scratch-register test must show that a
    // chip answers.
    bool probes_after_open = false;
};

// One way of reaching the chip's register map. A link owns its library and
// all its state; nothing else sees them.
//
// Open:  true when the link is ready; prints the link's own message where it
//        has one. True at once while already open.
// Close: releases whatever the link holds; safe on a link that failed to
//        open, and twice in a row. The destructor closes.
// WriteBlock / ReadBlock (dev, reg, data):
//        dev is the chip's 8-bit I2C address (write form); the USB link
//        ignores it. Byte k of data goes to (comes from) register reg + k of
//        the selected page; a link that cuts the transfer into pieces
//        advances the register by each piece. At most 255 bytes; an empty
//        span transfers nothing and returns 0. Returns the byte count, or the
//        link's negative error code at the first failing piece (earlier
//        pieces have been transferred, and data may hold partial bytes).
class ChipLink {
public:
    virtual ~ChipLink() = default;
    virtual bool Open() = 0;
    virtual void Close() = 0;
    virtual int WriteBlock(int dev, int reg, std::span<const uint8_t> data) = 0;
    virtual int ReadBlock(int dev, int reg, std::span<uint8_t> data) = 0;
    virtual LinkTraits Traits() const = 0;
    // The firmware version the device itself reports, shown when the chip's
    // version register reads 0; 0 where the link has none.
    virtual int DeviceVersion() const { return 0; }
    // The devices the link accepts, in the order --index counts them, from a
    // link not opened; it loads its library for that and releases it again.
    // nullopt (after the link's usual line) when the library cannot be
    // loaded, and from a link that cannot list.
    virtual std::optional<std::vector<ListedDevice>> ListDevices() { return std::nullopt; }
    // The device the last successful Open opened; nullopt before one.
    virtual std::optional<OpenedDevice> Opened() const { return std::nullopt; }
    // Why the link did not open or its last transfer failed, as far as the
    // link knows it (a library call and its status, the loader's error);
    // empty when it knows nothing more than its printed lines.
    virtual std::string FailureReason() const { return {}; }
    // The library file the open link runs on, for -v; empty where none is loaded.
    virtual std::string LibraryPath() const { return {}; }
};

}  // namespace qz
