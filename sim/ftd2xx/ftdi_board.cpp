#include "ftdi_board.h"

#include <algorithm>

#include "board_list.h"
#include "chip_folder.h"

namespace qzsim {

namespace {

constexpr uint8_t kBitModeMpsse = 0x02;
// Time on the bus between two USB transfers: one high-speed microframe.
constexpr uint64_t kUsbGapPs = 125'000'000;

}  // namespace

std::unique_ptr<FtdiBoard> FtdiBoard::Open(const char *library, const std::string &folder, const FtdiFacts &facts,
                                           const BoardFact &board, BoardOpen *result)
{
    std::unique_ptr<FtdiBoard> b(new FtdiBoard);
    b->board_ = board;
    b->facts_ = facts;
    b->library_ = library;
    if (!b->lock_.Take(BoardLockPath(folder, board.location))) {
        *result = BoardOpen::held;
        return nullptr;
    }
    b->chip_dir_ = InFolder(folder, board.chip_dir);
    std::string error;
    b->chip_ = LoadChipFolder(b->chip_dir_, &error);
    if (!b->chip_) {
        Complain(library, error);
        *result = BoardOpen::no_chip;
        return nullptr;
    }
    b->pace_.emplace(b->chip_->facts());
    b->target_ = std::make_unique<ChipBusTarget>(*b->chip_, b->facts_);
    b->slave_ = std::make_unique<I2cPinSlave>(*b->target_);
    if (!b->facts_.vcd.empty() && !b->vcd_.Open(InFolder(folder, b->facts_.vcd), true, true))
        Complain(library, "cannot write " + b->facts_.vcd);
    b->bus_ = std::make_unique<I2cBus>(b->slave_.get(), &b->vcd_);
    b->engine_ = std::make_unique<MpsseEngine>(*b->bus_);
    b->engine_->set_answer_bad_commands(!b->facts_.no_bad_command_echo);
    if (!b->facts_.capture.empty()) {
        b->capture_ = std::fopen(InFolder(folder, b->facts_.capture).c_str(), "a");
        if (b->capture_) {
            std::fprintf(b->capture_, "# open 0x%08X %s\n", board.location, board.serial.c_str());
            std::fflush(b->capture_);
        }
    }
    *result = BoardOpen::opened;
    return b;
}

FtdiBoard::~FtdiBoard()
{
    if (capture_)
        std::fclose(capture_);
}

void FtdiBoard::Close()
{
    std::string error;
    if (chip_ && !SaveChipFolder(*chip_, chip_dir_, &error))
        Complain(library_, error);
    if (capture_) {
        std::fprintf(capture_, "# close\n");
        std::fclose(capture_);
        capture_ = nullptr;
    }
    vcd_.Close();
}

void FtdiBoard::Capture(char direction, std::span<const uint8_t> bytes, const char *note)
{
    if (!capture_)
        return;
    // One write per line, formatted here: a -U logs about 100 MB.
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string line(1, direction);
    line.reserve(bytes.size() * 3 + 2);
    for (uint8_t b : bytes) {
        line += ' ';
        line += kHex[b >> 4];
        line += kHex[b & 0x0F];
    }
    if (note)
        line.append(" # ").append(note);
    line += '\n';
    std::fwrite(line.data(), 1, line.size(), capture_);
    std::fflush(capture_);
}

void FtdiBoard::CaptureNote(const char *what, uint16_t value)
{
    if (!capture_)
        return;
    std::fprintf(capture_, "# %s %04X\n", what, value);
    std::fflush(capture_);
}

void FtdiBoard::SetBitMode(uint8_t mask, uint8_t mode)
{
    CaptureNote("bitmode", static_cast<uint16_t>(mode << 8 | mask));
    bit_mode_ = mode;
    if (mode == kBitModeMpsse)
        engine_->Reset();
}

bool FtdiBoard::Write(std::span<const uint8_t> bytes, size_t chunk_bytes, size_t &sent)
{
    ArriveLate();
    const uint32_t n = ++writes_;
    pace_->Transfer();
    written_at_ = Clock::now();
    sent = 0;
    if (FaultHits(n, facts_.write_fail_from, facts_.write_fail_at)) {
        Capture('>', bytes, "failed");
        return false;
    }
    if (n == facts_.write_timeout_at)
        bytes = bytes.first(bytes.size() / 2);
    sent = bytes.size();
    Capture('>', bytes, n == facts_.write_timeout_at ? "timed out" : nullptr);
    // Outside MPSSE mode the bytes would go out of the UART; no bus moves.
    if (bit_mode_ != kBitModeMpsse)
        return true;
    if (chunk_bytes == 0)
        chunk_bytes = bytes.size();
    bool send_now = false;
    for (size_t at = 0; at < bytes.size(); at += chunk_bytes) {
        const auto chunk = bytes.subspan(at, std::min(chunk_bytes, bytes.size() - at));
        engine_->AdvanceTime(kUsbGapPs);
        engine_->Feed(chunk.data(), chunk.size());
        send_now = send_now || engine_->send_now();
    }
    std::vector<uint8_t> out = engine_->TakeOutput();
    if (!out.empty() && FaultHits(n, facts_.short_reply_from, facts_.short_reply_at))
        out.pop_back();
    if (n == facts_.late_reply_at)
        late_.swap(out);
    if (!out.empty() && n == facts_.late_tail_at) {
        late_.push_back(out.back());
        out.pop_back();
    }
    if (!out.empty() && n == facts_.split_reply_at) {
        tail_.assign(1, out.back());
        out.pop_back();
    }
    if (event_char_enabled_ && std::find(out.begin(), out.end(), event_char_) != out.end())
        send_now = true;
    if (unsent_.empty())
        unsent_since_ = Clock::now();
    unsent_.insert(unsent_.end(), out.begin(), out.end());
    if (send_now) {
        rx_.insert(rx_.end(), unsent_.begin(), unsent_.end());
        unsent_.clear();
    }
    return true;
}

bool FtdiBoard::ReadFails()
{
    pace_->Transfer();
    if (!FaultHits(++reads_, facts_.read_fail_from, facts_.read_fail_at))
        return false;
    Capture('<', {}, "failed");
    return true;
}

void FtdiBoard::ReleaseAfterLatency(bool expired)
{
    if (tail_due_)
        ReleaseTail();
    if (unsent_.empty())
        return;
    if (expired || LatencyLeftMs() == 0) {
        rx_.insert(rx_.end(), unsent_.begin(), unsent_.end());
        unsent_.clear();
    }
}

void FtdiBoard::ReleaseTail()
{
    if (!unsent_.empty())
        return;
    rx_.insert(rx_.end(), tail_.begin(), tail_.end());
    tail_.clear();
    tail_due_ = false;
}

uint32_t FtdiBoard::LatencyLeftMs() const
{
    if (unsent_.empty())
        return latency_ms_;
    const auto age = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - unsent_since_).count();
    return age >= latency_ms_ ? 0 : static_cast<uint32_t>(latency_ms_ - age);
}

uint64_t FtdiBoard::ReplyDelayLeftUs() const
{
    const uint64_t delay_us = uint64_t{facts_.reply_delay_ms} * 1000 / facts_.timeout_scale;
    const auto age = std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - written_at_).count();
    return age >= 0 && static_cast<uint64_t>(age) >= delay_us ? 0 : delay_us - static_cast<uint64_t>(age);
}

size_t FtdiBoard::Take(std::span<uint8_t> out, const char *note_if_short)
{
    const size_t count = std::min(out.size(), rx_.size());
    std::copy_n(rx_.begin(), count, out.begin());
    rx_.erase(rx_.begin(), rx_.begin() + static_cast<std::ptrdiff_t>(count));
    tail_due_ = !tail_.empty() && count > 0;
    Capture('<', out.first(count), count < out.size() ? note_if_short : nullptr);
    return count;
}

void FtdiBoard::Purge()
{
    rx_.clear();
    unsent_.clear();
    late_.clear();
    tail_.clear();
    tail_due_ = false;
}

void FtdiBoard::ArriveLate()
{
    rx_.insert(rx_.end(), late_.begin(), late_.end());
    late_.clear();
}

}  // namespace qzsim
