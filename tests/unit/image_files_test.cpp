#include "image/image_files.h"

#include <fstream>

#include "app/error_codes.h"
#include "test_support.h"

namespace {

class ImageFilesTest : public ToolStateTest {
protected:
    std::string Write(const std::string &name, const std::string &content)
    {
        const std::string path = dir.File(name);
        std::ofstream(path, std::ios::binary) << content;
        return path;
    }
    TempDir dir;
};

TEST_F(ImageFilesTest, DatLinesTakeTheFirstRunOfBinaryDigits)
{
    const std::string path = Write("a.dat",
                                   "10000000\n"
                                   "  0101 1010\n"
                                   "111111111\n"
                                   "12\n"
                                   "0x1F\n"
                                   "23\n"
                                   "\n"
                                   "value: 11 (three)\n"
                                   "1111111100000001\n");
    int count = 0;
    CapturePrinted([&] { count = LoadDatImage(path.c_str()); });
    EXPECT_EQ(count, 7);
    const uint8_t expected[] = {0x80, 0x05, 0xFF, 0x01, 0x00, 0x03, 0x01};
    for (int i = 0; i < 7; ++i)
        EXPECT_EQ(FirmwareImage[i], expected[i]) << i;
    EXPECT_EQ(FirmwareImage[7], 0);
}

TEST_F(ImageFilesTest, LongDatLinesAreReadInPiecesOfThirtyFive)
{
    // 40 characters: a digit within the first 35 and one among the rest.
    std::string line = "1" + std::string(34, ' ') + "  11 \n";
    ASSERT_EQ(line.size(), 41u);
    const std::string path = Write("long.dat", line + "xx\n");
    int count = 0;
    CapturePrinted([&] { count = LoadDatImage(path.c_str()); });
    EXPECT_EQ(count, 2);
    EXPECT_EQ(FirmwareImage[0], 1);
    EXPECT_EQ(FirmwareImage[1], 3);
}

TEST_F(ImageFilesTest, DatLastLineWithoutNewlineCounts)
{
    const std::string path = Write("b.dat", "1\n11");
    EXPECT_EQ(LoadDatImage(path.c_str()), 2);
    EXPECT_EQ(FirmwareImage[1], 3);
}

TEST_F(ImageFilesTest, DatStopsAtImageSize)
{
    std::string text;
    for (int i = 0; i < 32768 + 10; ++i)
        text += (i < 32768 ? "1\n" : "11\n");
    const std::string path = Write("big.dat", text);
    EXPECT_EQ(LoadDatImage(path.c_str()), 32768);
    EXPECT_EQ(FirmwareImage[32767], 1);
}

TEST_F(ImageFilesTest, DatWithoutDigitsLoadsNothingAndPrintsNothing)
{
    const std::string path = Write("none.dat", "hello\n23\n");
    int count = -1;
    const std::string out = CapturePrinted([&] { count = LoadImage(path.c_str()); });
    EXPECT_EQ(count, 0);
    EXPECT_EQ(out, "");
    EXPECT_EQ(settings.image_svid, kUnsetSvid);
}

TEST_F(ImageFilesTest, NameSuffixChoosesTheFormatInAnyCase)
{
    // "1\n" as text is the byte 0x01; as binary it is 0x31 0x0A.
    for (const char *text_name : {"i.dat", "i.DAT", "i.Dat", ".dat"}) {
        FirmwareImage.fill(0);
        const std::string path = Write(text_name, "1\n");
        CapturePrinted([&] { EXPECT_EQ(LoadImage(path.c_str()), 1) << text_name; });
        EXPECT_EQ(FirmwareImage[0], 0x01) << text_name;
    }
    for (const char *binary_name : {"i.da", "i.bin", "i.dat.bin", "dat"}) {
        FirmwareImage.fill(0);
        const std::string path = Write(binary_name, "1\n");
        CapturePrinted([&] { EXPECT_EQ(LoadImage(path.c_str()), 2) << binary_name; });
        EXPECT_EQ(FirmwareImage[0], 0x31) << binary_name;
    }
}

TEST_F(ImageFilesTest, LoadImagePrintsVersionsAndTakesIds)
{
    std::string bytes(IMAGE_SIZE, '\0');
    bytes[FW1_VERSION_OFFSET] = 0x23;
    bytes[FW1_VERSION_OFFSET + 1] = 0x05;
    bytes[FW2_VERSION_OFFSET] = 0x10;
    bytes[CUSTOMER_BLOCK_OFFSET + CUSTOMER_SVID1] = 0x34;
    bytes[CUSTOMER_BLOCK_OFFSET + CUSTOMER_SVID1 + 1] = 0x12;
    bytes[CUSTOMER_BLOCK_OFFSET + CUSTOMER_PID] = 0x50;
    bytes[CUSTOMER_BLOCK_OFFSET + CUSTOMER_PID + 1] = 0x48;
    const std::string path = Write("full.bin", bytes);
    int count = 0;
    const std::string out = CapturePrinted([&] { count = LoadImage(path.c_str()); });
    EXPECT_EQ(count, 32768);
    EXPECT_EQ(out, "FW1 V2:3:5 FW2 V1:0:0 in " + path + "\n");
    EXPECT_EQ(settings.image_svid, 0x1234);
    EXPECT_EQ(settings.image_pid, 0x4850);
}

TEST_F(ImageFilesTest, ShortBinaryFillsTheFrontAndLongOneIsCut)
{
    FirmwareImage.fill(0xEE);
    const std::string path = Write("short.bin", std::string(100, '\x11'));
    FirmwareImage.fill(0);
    int count = 0;
    const std::string out = CapturePrinted([&] { count = LoadImage(path.c_str()); });
    EXPECT_EQ(count, 100);
    EXPECT_EQ(out, "FW1 V0:0:0 FW2 V0:0:0 in " + path + "\n");
    EXPECT_EQ(settings.image_svid, 0);
    EXPECT_EQ(settings.image_pid, 0);
    EXPECT_EQ(FirmwareImage[99], 0x11);
    EXPECT_EQ(FirmwareImage[100], 0);

    const std::string long_path = Write("long.bin", std::string(IMAGE_SIZE + 5, '\x22'));
    CapturePrinted([&] { EXPECT_EQ(LoadBinImage(long_path.c_str()), 32768); });
}

TEST_F(ImageFilesTest, EmptyOrMissingFilesFail)
{
    const std::string empty = Write("empty.bin", "");
    std::string out = CapturePrinted([&] { EXPECT_EQ(LoadImage(empty.c_str()), ERR_IMAGE_FILE); });
    EXPECT_EQ(out, "error reading " + empty + "(0)\n");
    out = CapturePrinted([&] { EXPECT_EQ(LoadImage("/nonexistent/a.dat"), ERR_IMAGE_FILE); });
    EXPECT_EQ(out, "Fail to open file /nonexistent/a.dat\n");
    const std::string empty_dat = Write("empty.dat", "");
    EXPECT_EQ(LoadImage(empty_dat.c_str()), 0);
}

TEST_F(ImageFilesTest, SaveWritesTheFrontOfTheImage)
{
    for (size_t i = 0; i < IMAGE_SIZE; ++i)
        FirmwareImage[i] = static_cast<uint8_t>(i * 7);
    const std::string path = dir.File("out.bin");
    EXPECT_EQ(SaveImage(path.c_str(), IMAGE_SIZE), 32768);
    std::ifstream in(path, std::ios::binary);
    std::string back((std::istreambuf_iterator<char>(in)), {});
    ASSERT_EQ(back.size(), IMAGE_SIZE);
    EXPECT_TRUE(std::equal(back.begin(), back.end(), FirmwareImage.begin(),
                           [](char a, uint8_t b) { return static_cast<uint8_t>(a) == b; }));
}

TEST_F(ImageFilesTest, SaveFailuresAreReported)
{
    const std::string missing = dir.File("no/such/folder/out.bin");
    std::string out = CapturePrinted([&] { EXPECT_EQ(SaveImage(missing.c_str(), IMAGE_SIZE), ERR_OUTPUT_FILE); });
    EXPECT_EQ(out, "error openning " + missing + "\n");
    if (std::filesystem::exists("/dev/full")) {
        out = CapturePrinted([&] { EXPECT_EQ(SaveImage("/dev/full", IMAGE_SIZE), ERR_OUTPUT_FILE); });
        EXPECT_EQ(out, "error writing /dev/full\n");
    }
}

}  // namespace
