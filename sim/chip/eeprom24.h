// A 32 KB I2C EEPROM of the 24xx256 class on the chip's own I2C master bus.
#pragma once
#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace qzsim {

class Eeprom24 {
public:
    static constexpr size_t kSize = 0x8000;
    static constexpr size_t kPageSize = 32;
    static constexpr uint8_t kWriteAddress = 0xA6;  // 7-bit 0x53, read address 0xA7

    // The bus timings the chip's I2C master can be given, slowest last; the
    // EEPROM answers when every timing byte is at least that of its minimum
    // entry.
    static constexpr std::array<std::array<uint8_t, 4>, 5> kTimingTable{{
        {0x05, 0x08, 0x04, 0x07},
        {0x05, 0x0A, 0x05, 0x07},
        {0x05, 0x0E, 0x07, 0x07},
        {0x08, 0x0E, 0x07, 0x07},
        {0x11, 0x0E, 0x07, 0x07},
    }};

    Eeprom24();

    std::array<uint8_t, kSize> &data() { return data_; }
    const std::array<uint8_t, kSize> &data() const { return data_; }

    void set_present(bool v) { present_ = v; }
    void set_write_protected(bool v) { write_protected_ = v; }
    void set_busy_probes(uint32_t v) { busy_probes_ = v; }
    void set_min_timing(uint32_t entry) { min_timing_ = entry; }
    // The timing the master drives the bus with (I2CM_TIMING).
    void set_bus_timing(const std::array<uint8_t, 4> &t) { bus_timing_ = t; }
    bool TimingAccepted() const;

    // Bus events, as the master produces them.
    void Start();                  // START or repeated START
    bool WriteByte(uint8_t b);     // a byte the master sends; returns ACK
    uint8_t ReadByte(bool ack);    // a byte the master receives (ack = master acknowledges it)
    void Stop();

    bool busy() const { return busy_left_ > 0; }
    uint32_t write_cycles() const { return write_cycles_; }
    uint32_t busy_naks() const { return busy_naks_; }
    uint32_t protected_writes() const { return protected_writes_; }
    uint16_t address_pointer() const { return pointer_; }

private:
    enum class Phase { Idle, Control, AddressHigh, AddressLow, Data, Reading, Ignored };

    std::array<uint8_t, kSize> data_{};
    bool present_ = true;
    bool write_protected_ = false;
    uint32_t busy_probes_ = 0;
    uint32_t min_timing_ = 0;
    std::array<uint8_t, 4> bus_timing_ = kTimingTable[0];

    Phase phase_ = Phase::Idle;
    uint16_t pointer_ = 0;
    uint8_t address_high_ = 0;
    std::vector<std::pair<uint16_t, uint8_t>> pending_;
    uint8_t page_offset_ = 0;
    uint32_t busy_left_ = 0;
    uint32_t write_cycles_ = 0;
    uint32_t busy_naks_ = 0;
    uint32_t protected_writes_ = 0;
};

}  // namespace qzsim
