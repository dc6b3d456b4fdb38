// Loading the FT232H's library, choosing and opening the board, putting it
// into MPSSE mode and clocking the bus. The I2C transfers are in
// ftdi_transfers.cpp.
#include "link/ftdi_link.h"

#include <algorithm>
#include <cstdint>
#include <vector>

#include "link/d2xx_driver.h"
#include "link/ftdi_board.h"
#include "link/libftdi_driver.h"
#include "link/maker_library.h"
#include "link/mpsse_clock.h"

namespace qz {

static constexpr FtdiSetUp kSetUp = {
    .usb_in_bytes = 65536,
    .usb_out_bytes = 65535,
    .read_timeout_ms = 2000,
    .write_timeout_ms = 2000,
    .latency_ms = 16,
};

// Pauses that let the MPSSE engine settle after the mode change and the
// clock and pin set-up.
static constexpr uint32_t kAfterBitModeMs = 50;
static constexpr uint32_t kAfterBusSetUpMs = 20;
static constexpr uint32_t kAfterLoopbackOffMs = 30;

static constexpr uint8_t kIdleLevels = PIN_SCL | PIN_SDA_OUT;

// D2XX first; libftdi1 where D2XX does not load (or where the run names it).
// Without --ftdi-lib a failure prints nothing, as the link always has, except
// a D2XX file found that would not load for a cause a user cannot guess, and
// a libftdi1 that loads without the calls the link makes.
std::unique_ptr<FtdiDriver> FtdiLink::LoadDriver()
{
    const bool named = settings_.library != FtdiLibrary::Automatic;
    if (settings_.library != FtdiLibrary::Libftdi) {
        auto d2xx = std::make_unique<D2xxDriver>(names_.primary, names_.fallback, clock_);
        const LibraryLoad result = d2xx->Load();
        if (result == LibraryLoad::Loaded)
            return d2xx;
        const SharedLibrary &library = d2xx->library();
        if (named)
            PrintLibraryFailure(console_, library, names_.primary, names_.fallback);
        else if (!library.cause().empty())
            PrintLibraryFailure(console_, library, library.file_name());
        if (named || result == LibraryLoad::EntryPointsMissing || !names_.libftdi) {
            last_error_ = result == LibraryLoad::NotFound ? "Can't load ftd2xx.dll" : "APIs in ftd2xx.dll are missing";
            reason_ = LibraryFailureReason(library, names_.primary);
            return nullptr;
        }
    }
    auto libftdi = std::make_unique<LibftdiDriver>(names_.libftdi, clock_);
    const LibraryLoad result = names_.libftdi ? libftdi->Load() : LibraryLoad::NotFound;
    if (result == LibraryLoad::Loaded)
        return libftdi;
    if (named || result == LibraryLoad::EntryPointsMissing) {
        const char *name = names_.libftdi ? names_.libftdi : "libftdi1";
        console_.Print(result == LibraryLoad::NotFound ? "Can't load %s\n" : "APIs are missing in %s\n", name);
    }
    last_error_ = result == LibraryLoad::NotFound ? "Can't load libftdi1" : "APIs in libftdi1 are missing";
    const char *name = names_.libftdi ? names_.libftdi : "libftdi1";
    reason_ = result == LibraryLoad::NotFound
                  ? std::string("loading ") + name + ": " + (libftdi->load_error().empty() ? "not found" : libftdi->load_error())
                  : std::string("entry points missing in ") + name;
    return nullptr;
}

void FtdiLink::SendSetUp(std::span<const uint8_t> bytes)
{
    driver_->Write(bytes);
}

bool FtdiLink::MpsseSync(uint8_t opcode)
{
    SendSetUp(std::array<uint8_t, 1>{opcode});
    size_t got = 0;
    if (!driver_->ReadArrived(reply_, kSetUp.read_timeout_ms, got)) {
        last_error_ = "Fail to read MPSSE answer";
        return false;
    }
    // The MPSSE answers a bad command with 0xFA and the command echoed;
    // bytes ahead of that pair are ignored.
    const std::array<uint8_t, 2> answer{MPSSE_BAD_COMMAND, opcode};
    const auto end = reply_.begin() + static_cast<long>(got);
    if (std::search(reply_.begin(), end, answer.begin(), answer.end()) != end)
        return true;
    Fail("Fail to synchronize MPSSE");
    return false;
}

// The board the device choice names (by default the first one no other
// program holds). A library that cannot tell which boards are held learns it
// when the open fails, and chooses again.
bool FtdiLink::OpenChosenBoard()
{
    std::optional<std::vector<FtdiBoard>> listed = driver_->ListBoards();
    if (!listed) {
        Fail("Fail to get FT232H device info");
        return false;
    }
    std::vector<FtdiBoard> &boards = *listed;
    for (;;) {
        const FtdiBoardPick pick = ChooseFtdiBoard(boards, choice_);
        if (pick.outcome != FtdiBoardPick::Outcome::Chosen) {
            Fail(boards.empty() ? "No FT2232H device connected" : "No free FT232H device");
            if (const std::string line = FtdiRefusalLine(choice_, pick.outcome); !line.empty())
                console_.Print("%s\n", line.c_str());
            return false;
        }
        switch (driver_->OpenBoard(pick.index)) {
        case BoardOpen::Opened: {
            const FtdiBoard &chosen = boards[pick.index];
            opened_ = OpenedDevice{pick.index, true, chosen.serial, chosen.location};
            board_open_ = true;
            return true;
        }
        case BoardOpen::HeldElsewhere: boards[pick.index].open_elsewhere = true; break;
        case BoardOpen::Failed: Fail("Fail to open FT232H device"); return false;
        }
    }
}

std::optional<std::vector<ListedDevice>> FtdiLink::ListDevices()
{
    // Listing holds no board: its driver goes on return.
    const std::unique_ptr<FtdiDriver> driver = LoadDriver();
    const std::optional<std::vector<FtdiBoard>> boards = driver ? driver->ListBoards() : std::nullopt;
    if (!boards)
        return std::nullopt;
    std::vector<ListedDevice> devices;
    for (const FtdiBoard &board : *boards)
        devices.push_back({board.serial, board.location, board.description, board.open_elsewhere, 0});
    return devices;
}

// The clock (three-phase, at the divisor for the asked rate), the bus idle
// (SCL and SDA high), loopback off.
void FtdiLink::SetUpI2cBus()
{
    const uint16_t divisor = MpsseClockDivisor(settings_.i2c_khz);
    SendSetUp(std::array<uint8_t, 3>{MPSSE_DIVIDE_BY_5_OFF, MPSSE_ADAPTIVE_CLOCK_OFF, MPSSE_THREE_PHASE_ON});
    SendSetUp(std::array<uint8_t, 6>{MPSSE_SET_LOW_BYTE, kIdleLevels, DIR_SDA_DRIVEN, MPSSE_SET_CLOCK_DIVISOR,
                                     static_cast<uint8_t>(divisor & 0xFF), static_cast<uint8_t>(divisor >> 8)});
    clock_.SleepMs(kAfterBusSetUpMs);
    SendSetUp(std::array<uint8_t, 1>{MPSSE_LOOPBACK_OFF});
    clock_.SleepMs(kAfterLoopbackOffMs);
}

bool FtdiLink::Open()
{
    driver_ = LoadDriver();
    if (!driver_)
        return false;
    if (!OpenChosenBoard())
        return false;
    if (!driver_->SetUp(kSetUp)) {
        Fail("Fail on initialize FT2232H device");
        return false;
    }
    clock_.SleepMs(kAfterBitModeMs);
    if (!MpsseSync(MPSSE_SYNC_PROBE_1) || !MpsseSync(MPSSE_SYNC_PROBE_2))
        return false;
    SetUpI2cBus();
    return true;
}

void FtdiLink::Fail(const char *text)
{
    last_error_ = text;
    const std::string call = driver_ ? driver_->CallError() : std::string();
    reason_ = call.empty() ? text : std::string(text) + ": " + call;
}

// The failure text stays for inspection after the close.
void FtdiLink::Close()
{
    if (driver_)
        driver_->Close();
    driver_.reset();
    board_open_ = false;
}

}  // namespace qz
