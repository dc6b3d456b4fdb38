// A scripted D2XX device behind the FT232H link's entry points, for testing
// the link's streams and its handling of replies without any library: every
// FT_Write is recorded and queues the next scripted reply for FT_Read.
#pragma once
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <deque>
#include <sstream>
#include <string>
#include <vector>

#include "link/ftdi_link_state.h"
#include "hex_bytes.h"

using Bytes = std::vector<uint8_t>;


inline Bytes Join(std::initializer_list<Bytes> parts)
{
    Bytes out;
    for (const Bytes &p : parts)
        out.insert(out.end(), p.begin(), p.end());
    return out;
}

struct FakeD2xx {
    std::vector<Bytes> writes;
    std::deque<Bytes> replies;  // one is queued per successful FT_Write
    std::deque<uint8_t> queue;
    std::vector<DWORD> read_requests;
    FT_STATUS write_status = FT_OK;
    FT_STATUS read_status = FT_OK;
    int queue_status_calls = 0;
};

inline FakeD2xx fake;

inline FT_STATUS FakeWrite(FT_HANDLE, void *buffer, DWORD n, DWORD *written)
{
    const auto *p = static_cast<const uint8_t *>(buffer);
    fake.writes.emplace_back(p, p + n);
    if (fake.write_status != FT_OK)
        return fake.write_status;
    *written = n;
    if (!fake.replies.empty()) {
        fake.queue.insert(fake.queue.end(), fake.replies.front().begin(), fake.replies.front().end());
        fake.replies.pop_front();
    }
    return FT_OK;
}

inline FT_STATUS FakeRead(FT_HANDLE, void *buffer, DWORD n, DWORD *got)
{
    fake.read_requests.push_back(n);
    if (fake.read_status != FT_OK)
        return fake.read_status;
    const size_t k = std::min<size_t>(n, fake.queue.size());
    std::copy_n(fake.queue.begin(), k, static_cast<uint8_t *>(buffer));
    fake.queue.erase(fake.queue.begin(), fake.queue.begin() + static_cast<std::ptrdiff_t>(k));
    *got = static_cast<DWORD>(k);
    return FT_OK;
}

inline FT_STATUS FakeQueueStatus(FT_HANDLE, DWORD *rx)
{
    ++fake.queue_status_calls;
    *rx = static_cast<DWORD>(fake.queue.size());
    return FT_OK;
}

// The link as FtdiOpen leaves it, with the fake behind it.
class FakeD2xxTest : public testing::Test {
protected:
    void SetUp() override
    {
        fake = FakeD2xx{};
        ftdi = FtdiLink{};
        ftdi.device = &fake;
        ftdi.write = FakeWrite;
        ftdi.read = FakeRead;
        ftdi.get_queue_status = FakeQueueStatus;
    }
    void TearDown() override { ftdi = FtdiLink{}; }
};
