#include <numeric>

#include "flash/flash_program.h"
#include "flash/flash_verify.h"
#include "flash/register_map.h"
#include "sim_link.h"

namespace {

using Bytes = std::vector<uint8_t>;

// The flash commands and EEPROM page writes in the order made: P program,
// R read, E EEPROM page write, p EEPROM address probe.
std::string Events(const SimLink &link)
{
    std::string out;
    for (const auto &t : link.transfers) {
        if (t.Is('W', PAGE_FLASH, FLASH_CMD) && t.bytes.size() == 5)
            out += t.bytes[0] == FLASH_OP_PROGRAM ? 'P' : t.bytes[0] == FLASH_OP_READ ? 'R' : '?';
        else if (t.Is('W', PAGE_I2C_MASTER, I2CM_WDATA) && t.bytes.size() == 35)
            out += 'E';
        else if (t.Is('W', PAGE_I2C_MASTER, I2CM_WDATA) && t.bytes == Bytes{EEPROM_WRITE_ADDRESS})
            out += 'p';
    }
    return out;
}

std::string Repeat(const std::string &s, int n)
{
    std::string out;
    for (int i = 0; i < n; ++i)
        out += s;
    return out;
}

Bytes Pattern(size_t n, uint8_t first = 1)
{
    Bytes data(n);
    std::iota(data.begin(), data.end(), first);
    return data;
}

class FlashProgramTest : public SimChipTest {
protected:
    void SetUp() override
    {
        SimChipTest::SetUp();
        OpenFlash();
    }

    std::string Program(uint16_t word_address, const Bytes &data, int expected_result)
    {
        return CapturePrinted([&] { EXPECT_EQ(FlashProgram(word_address, data.data(), data.size()), expected_result); });
    }
};

TEST_F(FlashProgramTest, ProgramCommandLoadsTheDataBetweenBlockAndStartByte)
{
    min_program_passes = 1;
    const Bytes data = Pattern(16);
    EXPECT_EQ(Program(0x0100, data, 16), "\rProgram...0000  done!\n");
    EXPECT_EQ(link->Dump(0, 7),
              "W 50 00 05\n"
              "W 05 30 05 00 08 01 00\n"
              "W 05 50 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F 10\n"
              "W 05 30 85\n"
              "W 05 30 05\n"
              "R 05 2C 00\n"
              "R 05 2C 01\n");
    EXPECT_TRUE(std::equal(data.begin(), data.end(), chip.flash().begin() + 0x200));
}

TEST_F(FlashProgramTest, CleanPieceIsProgrammedTwiceUnlessMorePassesAreRequired)
{
    for (int min : {0, 1, 2, 3, 5}) {
        link->transfers.clear();
        min_program_passes = static_cast<uint8_t>(min);
        Program(0x0000, Pattern(32), 32);
        const std::string piece = "PR" + Repeat("P", std::max(1, min - 1));
        EXPECT_EQ(Events(*link), piece + piece) << "min_program_passes " << min;
    }
}

TEST_F(FlashProgramTest, PieceCleanAtTheThirdReadBackGetsOneMorePass)
{
    min_program_passes = 1;
    chip.facts().weak_cells = {{0x0105, 3}};
    chip.ApplyFacts();
    const Bytes data = Pattern(16, 0x80);
    Program(0x0080, data, 16);
    EXPECT_EQ(Events(*link), "PRPRPRP");
    EXPECT_TRUE(std::equal(data.begin(), data.end(), chip.flash().begin() + 0x100));
}

TEST_F(FlashProgramTest, ReadBackTheLinkFailedToDeliverIsNotTakenAsClean)
{
    // The first read-back of FLASH_RDATA fails on the link. Its cleared
    // buffer equals a piece of zero bytes, but a read that delivered nothing
    // proves nothing: the piece is read back again before it is left.
    min_program_passes = 1;
    bool failed_once = false;
    link->fail_if = [&](const LinkTransfer &t) {
        if (failed_once || !t.Is('R', PAGE_FLASH, FLASH_RDATA))
            return false;
        failed_once = true;
        return true;
    };
    Program(0x0000, Bytes(16, 0x00), 16);
    EXPECT_EQ(Events(*link), "PRPRP");
}

TEST_F(FlashProgramTest, PieceThatNeverReadsBackRightStopsSilentlyAfterTenPasses)
{
    min_program_passes = 1;
    chip.facts().weak_cells = {{0x0003, 1000}};
    chip.ApplyFacts();
    EXPECT_EQ(Program(0x0000, Pattern(32), 32), "\rProgram...0000\rProgram...0010  done!\n");
    EXPECT_EQ(Events(*link), Repeat("PR", 10) + "PRP");
}

TEST_F(FlashProgramTest, UnerasedDataAndWeakCellsShowUpAsVerifyDifferences)
{
    min_program_passes = 1;
    std::fill(chip.flash().begin(), chip.flash().begin() + 16, 0xF0);  // programming only sets bits
    chip.facts().weak_cells = {{0x0025, 50}};
    chip.ApplyFacts();
    const Bytes data(48, 0x0F);
    Program(0x0000, data, 48);
    EXPECT_EQ(Events(*link), Repeat("PR", 10) + "PRP" + Repeat("PR", 10));

    int verify = 0;
    const std::string out = CapturePrinted([&] { verify = FlashVerify(0x0000, data.data(), data.size()); });
    EXPECT_EQ(verify, 17);
    EXPECT_TRUE(EndsWith(out, "  error 0x00000011\n")) << Tail(out);
}

TEST_F(FlashProgramTest, MirrorOnlyWritesEepromPagesWithTheirWaitsWhenTheFlashIsOff)
{
    settings.program_flash = 0;
    eeprom_mirror = 1;
    min_program_passes = 1;
    chip.facts().eeprom_busy_probes = 2;
    chip.ApplyFacts();
    const Bytes data = Pattern(0x100, 0x30);
    const std::string out = Program(0x3880, data, 0x100);

    for (const auto &t : link->transfers)
        EXPECT_NE(t.page, PAGE_FLASH) << link->Dump();
    // The first wait finds the EEPROM idle; every later one waits out the
    // two busy probes of the previous page write.
    EXPECT_EQ(Events(*link), "pE" + Repeat("pppE", 7) + "ppp");
    std::vector<unsigned> addresses;
    for (const auto &t : link->Matching('W', PAGE_I2C_MASTER, I2CM_WDATA))
        if (t.bytes.size() == 35)
            addresses.push_back(t.bytes[1] << 8 | t.bytes[2]);
    EXPECT_EQ(addresses, (std::vector<unsigned>{0x7100, 0x7120, 0x7140, 0x7160, 0x7180, 0x71A0, 0x71C0, 0x71E0}));
    EXPECT_TRUE(std::equal(data.begin(), data.end(), chip.eeprom().data().begin() + 0x7100));
    EXPECT_EQ(CountOf(out, "\rProgram..."), 16u);
    EXPECT_NE(out.find("\rProgram...00F0  done!\n"), std::string::npos);
}

TEST_F(FlashProgramTest, MirrorWritesEachPageAfterItsSecondFlashPiece)
{
    eeprom_mirror = 1;
    min_program_passes = 1;
    chip.facts().eeprom_busy_probes = 0;
    chip.ApplyFacts();
    const Bytes data = Pattern(64);
    Program(0x0010, data, 64);
    EXPECT_EQ(Events(*link), "PRPPRPpEPRPPRPpEp");
    EXPECT_TRUE(std::equal(data.begin(), data.end(), chip.flash().begin() + 0x20));
    EXPECT_TRUE(std::equal(data.begin(), data.end(), chip.eeprom().data().begin() + 0x20));
}

TEST_F(FlashProgramTest, ComplementPreprogramWritesBackExactlyTheBytesRead)
{
    for (size_t i = 0; i < chip.flash().size(); ++i)
        chip.flash()[i] = static_cast<uint8_t>(i ^ (i >> 7));
    const auto before = chip.flash();
    settings.program_flash = 0;  // not consulted
    eeprom_mirror = 1;           // not consulted
    std::string out;
    out = CapturePrinted([] { EXPECT_EQ(FlashComplementPreprogram(0x0000, 0x7100), 0); });

    const auto reads = link->Matching('R', PAGE_FLASH, FLASH_RDATA);
    const auto programs = link->Matching('W', PAGE_FLASH, FLASH_WDATA);
    ASSERT_EQ(reads.size(), 904u);
    ASSERT_EQ(programs.size(), 1808u);
    for (size_t i = 0; i < programs.size(); ++i) {
        const Bytes &read = reads[i / 2].bytes;
        ASSERT_EQ(read.size(), 32u);
        EXPECT_EQ(programs[i].bytes, Bytes(read.begin() + (i % 2) * 16, read.begin() + (i % 2) * 16 + 16));
    }
    EXPECT_EQ(chip.flash(), before);
    EXPECT_EQ(Events(*link), Repeat("RPP", 904));
    EXPECT_EQ(CountOf(out, "\rRead......"), 904u);
    EXPECT_EQ(CountOf(out, "\rWrite....."), 904u);
    EXPECT_NE(out.find("\rRead......70E0\rWrite.....70E0  done!\n"), std::string::npos);
}

}  // namespace
