#include "eeprom/eeprom_bridge.h"
#include "flash/flash_command.h"
#include "flash/flash_read_erase.h"
#include "sim_link.h"

namespace {

// Each wait gives up once its time has passed AND it has polled its least
// number of times; it prints one line, and no wait polls after it.
TEST(HardwareWaitTest, WaitsGiveUpAfterTheirTimeAndLeastPolls)
{
    struct Wait { std::function<void(qzsim::ChipFacts &)> stall; std::function<int(qz::Chip &)> run;
                  std::function<bool(const LinkTransfer &)> is_poll; int code; std::string line; };
    const Wait flash{[](qzsim::ChipFacts &f) { f.flash_busy_polls = 1u << 30; },
                     [](qz::Chip &chip) { return qz::FlashEraseAll(chip, {}); },
                     [](const LinkTransfer &t) { return t.Is('R', qz::PAGE_FLASH, qz::FLASH_STATUS); },
                     qz::ERR_FLASH_TIMEOUT, "\nFlash controller does not answer(-290)\n"};
    const Wait bridge{[](qzsim::ChipFacts &f) { f.bridge_busy_polls = 1u << 30; },
                      [](qz::Chip &chip) { return qz::EepromTransfer(chip, qz::CMD_START_WRITE, 1).fault(); },
                      [](const LinkTransfer &t) { return t.Is('R', qz::PAGE_I2C_MASTER, qz::I2CM_STATUS); },
                      qz::ERR_BRIDGE_TIMEOUT, "\nEEPROM bridge does not answer(-291)\n"};
    const Wait write_cycle{[](qzsim::ChipFacts &f) { f.eeprom_busy_probes = 1u << 30; },
                           [](qz::Chip &chip) {
                               (void)qz::EepromWriteBytes(chip, 0x0100, Bytes{0x42});
                               return qz::EepromWaitReady(chip);
                           },
                           [](const LinkTransfer &t) {
                               return t.Is('W', qz::PAGE_I2C_MASTER, qz::I2CM_WDATA) &&
                                      t.bytes == Bytes{qz::EEPROM_WRITE_ADDRESS};
                           },
                           qz::ERR_EEPROM_BUSY, "\nEEPROM does not finish its write cycle(-292)\n"};
    struct Case { const Wait &wait; uint32_t ms_per_poll; size_t polls; };
    const Case cases[] = {{flash, 10, 100}, {flash, 100, 16},      {bridge, 10, 50},
                          {bridge, 100, 16}, {write_cycle, 10, 20}, {write_cycle, 100, 8}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.wait.line + std::to_string(c.ms_per_poll));
        OpenFlashBench b;
        c.wait.stall(b.sim.facts());
        b.sim.ApplyFacts();
        // Time passes only while the chip is polled.
        FakeClock clock(0);
        qz::Chip chip(b.link, 0xF4, b.console, clock);
        size_t polls = 0;
        b.link.after_transfer = [&](const LinkTransfer &t) {
            if (c.wait.is_poll(t))
                ++polls, clock.now_ms += c.ms_per_poll;
        };
        EXPECT_EQ(c.wait.run(chip), c.wait.code);
        EXPECT_EQ(polls, c.polls);
        EXPECT_TRUE(b.console.text.ends_with(c.wait.line)) << b.console.text;
        EXPECT_EQ(chip.fault(), c.wait.code);
        EXPECT_EQ(chip.link_failures(), 0u);

        const size_t transfers = b.link.transfers.size();
        EXPECT_EQ(c.wait.run(chip), c.wait.code);
        EXPECT_EQ(qz::EepromTransfer(chip, qz::CMD_STOP, 0).fault(), c.wait.code);
        EXPECT_LE(b.link.transfers.size(), transfers + 2);  // page selects at most
        EXPECT_EQ(polls, c.polls);
        EXPECT_EQ(CountOf(b.console.text, "("), 1u);
    }
}

TEST(HardwareWaitTest, StuckWaitBlamesTheLinkOnlyWhenItStoppedAnswering)
{
    struct Case { bool fail_last_reads; int code; const char *line; };
    for (const Case &c : {Case{false, qz::ERR_FLASH_TIMEOUT, "\nFlash controller does not answer(-290)\n"},
                          Case{true, qz::ERR_ADAPTER_READ, "\nLink failure(-322)\n"}}) {
        OpenFlashBench b;
        b.sim.facts().flash_busy_polls = 1u << 30;
        b.sim.ApplyFacts();
        int status_reads = 0;
        // One passing link error early in the wait; with fail_last_reads the
        // link dies after the fifth poll.
        b.link.fail_if = [&](char op, uint8_t page, uint8_t reg) {
            const bool poll = op == 'R' && page == qz::PAGE_FLASH && reg == qz::FLASH_STATUS;
            return poll && (++status_reads == 2 || (c.fail_last_reads && status_reads > 5));
        };
        b.chip.SelectPage(qz::PAGE_FLASH);
        EXPECT_EQ(qz::IssueFlashCommand(b.chip, qz::FLASH_OP_ERASE_ALL, 0, 0), c.code);
        EXPECT_TRUE(b.console.text.ends_with(c.line)) << b.console.text;
    }
}

}  // namespace
