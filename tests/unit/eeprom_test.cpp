#include <numeric>

#include "eeprom/eeprom_bridge.h"
#include "eeprom/eeprom_search.h"
#include "image/image_layout.h"
#include "sim_link.h"

namespace {

TEST(EepromTest, SearchTriesEveryTimingAndClassifiesTheEeprom)
{
    struct Case { uint32_t min_timing; bool present; bool write_protected; uint8_t kind; bool holds_core; int status;
                  std::string line; };
    const Case cases[] = {
        {0, true, false, 0x05, false, 0, "Search....FF00  done!\n"},
        {4, true, false, 0x7F, true, 0, "Search....FF16  done!\n"},
        {2, true, false, 0x01, false, 0, "Search....FF08  done!\n"},
        {1, true, false, 0x00, false, qz::ERR_INFO_MISMATCH, "Search....AA04  done!\n"},
        {3, true, false, 0x80, true, qz::ERR_INFO_MISMATCH, "Search....AA12  done!\n"},
        {0, false, false, 0x05, false, qz::ERR_NO_EEPROM, "Search....0000  done!\n"},
        {5, true, false, 0x05, false, qz::ERR_NO_EEPROM, "Search....0000  done!\n"},  // answers at no timing
        {0, true, true, 0x05, false, qz::ERR_NO_EEPROM,
         "Search....0000  done!\nEEPROM answers but is write-protected: not mirrored\n"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.line);
        SimBench b(qz::LinkTraits{.holds_core = c.holds_core});
        b.sim.facts().eeprom_min_timing = c.min_timing;
        b.sim.facts().eeprom_present = c.present;
        b.sim.facts().eeprom_protected = c.write_protected;
        b.sim.ApplyFacts();
        auto &eeprom = b.sim.eeprom().data();
        std::iota(eeprom.begin(), eeprom.end(), 0);
        eeprom[qz::INFO_BLOCK_OFFSET + qz::INFO_EEPROM_KIND] = c.kind;
        const auto before = eeprom;

        const qz::EepromSearchResult result = qz::EepromSearch(b.chip);
        EXPECT_EQ(result.status, c.status);
        EXPECT_EQ(b.console.text, c.line);
        const bool found = c.status != qz::ERR_NO_EEPROM;
        EXPECT_EQ(result.timing_offset, found ? c.min_timing * 4 : 20);
        const std::array<uint8_t, qz::INFO_BLOCK_SIZE> none{};
        EXPECT_TRUE(std::equal(result.info.begin(), result.info.end(),
                               found ? eeprom.begin() + qz::INFO_BLOCK_OFFSET : none.begin()));
        EXPECT_TRUE(eeprom == before);
        EXPECT_EQ(b.sim.eeprom().protected_writes() > 0, c.write_protected);
        EXPECT_EQ(b.sim.stats().page9_writes, std::vector<uint8_t>{0x00});
        EXPECT_EQ(b.sim.stats().core_ctrl_writes, c.holds_core ? std::vector<uint8_t>{0xFD} : std::vector<uint8_t>{});
        EXPECT_EQ(b.chip.link_failures(), 0u);
    }
}

TEST(EepromTest, BridgeThatStopsDuringTheInfoReadEndsTheSearchWithItsFault)
{
    SimBench b;
    b.link.after_transfer = [&](const LinkTransfer &t) {
        if (t.Is('W', qz::PAGE_I2C_MASTER, qz::I2CM_WDATA) && t.bytes == std::vector<uint8_t>{0xA6, 0x7F, 0xE0})
            b.sim.facts().bridge_busy_polls = 1u << 30;
    };
    EXPECT_EQ(qz::EepromSearch(b.chip).status, qz::ERR_BRIDGE_TIMEOUT);
    EXPECT_EQ(b.console.text, "\nEEPROM bridge does not answer(-291)\n");
}

TEST(EepromTest, EepromWriteTestWritesNothingAfterAFailedRead)
{
    // The read of the old byte: its address phase, its data.
    for (const FailRule &fail : {FailNth('W', qz::PAGE_I2C_MASTER, qz::I2CM_WDATA, 1),
                                 FailNth('R', qz::PAGE_I2C_MASTER, qz::I2CM_RDATA, 1)}) {
        SimBench b;
        b.sim.eeprom().data()[qz::EEPROM_TEST_BYTE_ADDRESS] = 0x3C;
        b.link.fail_if = fail;
        EXPECT_LT(qz::EepromWriteTest(b.chip).fault(), 0);
        EXPECT_EQ(b.link.Events().find('E'), std::string::npos) << b.link.Events();
        EXPECT_EQ(b.sim.eeprom().data()[qz::EEPROM_TEST_BYTE_ADDRESS], 0x3C);
    }
}

}  // namespace
