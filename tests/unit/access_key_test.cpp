#include "flash/access_key.h"

#include "flash/default_access_key.h"
#include "test_support.h"

namespace {

class AccessKeyTest : public ToolStateTest {};

AccessKey DefaultXor(uint32_t word)
{
    return {static_cast<uint8_t>(kDefaultAccessKey[0] ^ (word & 0xFF)),
            static_cast<uint8_t>(kDefaultAccessKey[1] ^ ((word >> 8) & 0xFF)),
            static_cast<uint8_t>(kDefaultAccessKey[2] ^ ((word >> 16) & 0xFF)),
            static_cast<uint8_t>(kDefaultAccessKey[3] ^ ((word >> 24) & 0xFF))};
}

TEST_F(AccessKeyTest, EmptyOrNonHexTextIsShortIdZeroGivingTheDefaultKey)
{
    for (const char *text : {"0x", "", "zz", "0X", "g12"}) {
        access_key = {};
        ParseAccessKey(text);
        EXPECT_EQ(access_key, kDefaultAccessKey) << text;
    }
}

TEST_F(AccessKeyTest, ShortIdsAreExpanded)
{
    // 0x123: nibble sum 6 in bits 12-15 gives 0x6123, doubled 0x61236123.
    ParseAccessKey("123");
    EXPECT_EQ(access_key, DefaultXor(0x61236123));
    ParseAccessKey("0xFFF");
    EXPECT_EQ(access_key, DefaultXor(0xDFFFDFFF));  // 15*3 = 45, mod 16 = 13
    ParseAccessKey("7");
    EXPECT_EQ(access_key, DefaultXor(0x70077007));
}

TEST_F(AccessKeyTest, FourOrMoreDigitsAreTheKeyItself)
{
    ParseAccessKey("0x1234");
    EXPECT_EQ(access_key, (AccessKey{0x34, 0x12, 0x00, 0x00}));
    ParseAccessKey("AABBCCDD");
    EXPECT_EQ(access_key, (AccessKey{0xDD, 0xCC, 0xBB, 0xAA}));
    ParseAccessKey("0x112233445566");  // the last eight digits count
    EXPECT_EQ(access_key, (AccessKey{0x66, 0x55, 0x44, 0x33}));
    ParseAccessKey("abcd-ef");
    EXPECT_EQ(access_key, (AccessKey{0xCD, 0xAB, 0x00, 0x00}));
}

TEST(DeriveImageKeyTest, RearrangesRotatesAndComplements)
{
    // 0x76543210: nibbles N7..N0 = 7..0 -> 7 2 0 5 3 6 4 1 = 0x72053641,
    // rotated right by 3 = 0x2E40A6C8, complemented = 0xD1BF5937.
    EXPECT_EQ(DeriveImageKey(0x76543210), (AccessKey{0x37, 0x59, 0xBF, 0xD1}));
    EXPECT_EQ(DeriveImageKey(0), (AccessKey{0xFF, 0xFF, 0xFF, 0xFF}));
    // A single set bit in N0 lands in bit 20, then bit 17 after the rotation.
    EXPECT_EQ(DeriveImageKey(0x1), (AccessKey{0xFF, 0xFF, 0xFD, 0xFF}));
}

}  // namespace
