#pragma once
#include <gtest/gtest.h>

#include "chip/chip.h"
#include "chip/register_map.h"
#include "core/console.h"
#include "fake_clock.h"
#include "flash/access_key.h"
#include "sim_link.h"

// What one run works with: a fresh simulated chip behind a SimLink, and the
// run's Chip, console and clock. Each table row of a test builds its own.
struct SimBench {
    explicit SimBench(qz::LinkTraits traits = {}) : link(sim, traits) {}

    // Opens the chip's flash with the default key straight on the chip, as an
    // unlock earlier in the run would have.
    void OpenFlash()
    {
        sim.WriteBlock(qz::PAGE_KEY, qz::KEY_DATA, qz::kDefaultAccessKey.data(), qz::kDefaultAccessKey.size());
        ASSERT_TRUE(sim.key_accepted());
    }

    qzsim::Chip sim;
    SimLink link;
    qz::BufferConsole console;
    FakeClock clock;
    qz::Chip chip{link, 0xF4, console, clock};
};
