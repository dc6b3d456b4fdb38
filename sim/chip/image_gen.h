// Realistic firmware images and matching chips for the simulator.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "facts.h"

namespace qzsim {

namespace layout {
inline constexpr size_t kImageSize = 0x8000;
inline constexpr size_t kFw1Version = 0x70FC;
inline constexpr size_t kCustomer = 0x7100;
inline constexpr size_t kCustomerSvid2 = 0x7100;
inline constexpr size_t kCustomerSvid1 = 0x7100 + 146;
inline constexpr size_t kCustomerPid = 0x7100 + 148;
inline constexpr size_t kCustomerSum = 0x7100 + 158;
inline constexpr size_t kFw2Version = 0x788C;
inline constexpr size_t kKeyBlock = 0x7890;
inline constexpr size_t kKeyBlockData = 1852;
inline constexpr size_t kKeyBlockSum = 0x7FCC;
inline constexpr size_t kTail = 0x7FCE;
inline constexpr size_t kTailSize = 18;
inline constexpr size_t kInfo = 0x7FE0;
inline constexpr size_t kInfoKeyWord = 0x7FE0 + 10;
inline constexpr size_t kInfoKind = 0x7FE0 + 23;
inline constexpr size_t kInfoSum = 0x7FE0 + 30;
}  // namespace layout

uint16_t Sum16(const uint8_t *p, size_t n);
uint16_t GetLe16(const uint8_t *p);
void PutLe16(uint8_t *p, uint16_t v);
// Renews the customer, key block and info block checksums.
void FixChecksums(std::vector<uint8_t> &image);
void FixInfoChecksum(uint8_t *info32);
uint32_t InfoKeyWord(const uint8_t *image);

enum class ChipVariant { Normal, Locked, Blank, ForeignInfo, InfoBadSum, KeyBadSum, NoEeprom, EepromOtherKind, EepromProtected };
bool ParseVariant(const std::string &name, ChipVariant *out);

struct GenerateOptions {
    ChipVariant variant = ChipVariant::Normal;
    uint16_t image_version = 0x1203;  // of the new image (FW1 and FW2)
    uint16_t chip_version = 0;        // of the firmware in the chip; 0: one minor below the image's
    uint32_t seed = 1;
    uint16_t svid1 = 0x1234;
    uint16_t svid2 = 0x5678;
    uint16_t pid = 0x4850;
};

struct GeneratedChip {
    std::vector<uint8_t> image;   // the new firmware image file
    std::vector<uint8_t> flash;   // what the chip holds
    std::vector<uint8_t> eeprom;  // what its EEPROM holds
    ChipFacts facts;
};

GeneratedChip GenerateChip(const GenerateOptions &options);

}  // namespace qzsim
