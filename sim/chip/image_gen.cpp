#include "image_gen.h"

#include <algorithm>
#include <random>

#include "chip.h"

namespace qzsim {

using namespace layout;

uint16_t Sum16(const uint8_t *p, size_t n) {
    uint32_t s = 0;
    for (size_t i = 0; i < n; ++i) s += p[i];
    return static_cast<uint16_t>(s);
}

uint16_t GetLe16(const uint8_t *p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }

void PutLe16(uint8_t *p, uint16_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}

void FixInfoChecksum(uint8_t *info32) { PutLe16(info32 + 30, Sum16(info32, 30)); }

void FixChecksums(std::vector<uint8_t> &img) {
    PutLe16(&img[kCustomerSum], Sum16(&img[kCustomer], 158));
    PutLe16(&img[kKeyBlockSum], Sum16(&img[kKeyBlock], kKeyBlockData));
    FixInfoChecksum(&img[kInfo]);
}

uint32_t InfoKeyWord(const uint8_t *img) {
    return static_cast<uint32_t>(img[kInfoKeyWord]) | static_cast<uint32_t>(img[kInfoKeyWord + 1]) << 8 |
           static_cast<uint32_t>(img[kInfoKeyWord + 2]) << 16 | static_cast<uint32_t>(img[kInfoKeyWord + 3]) << 24;
}

bool ParseVariant(const std::string &n, ChipVariant *out) {
    static const std::pair<const char *, ChipVariant> names[] = {
        {"normal", ChipVariant::Normal},
        {"locked", ChipVariant::Locked},
        {"blank", ChipVariant::Blank},
        {"foreign-info", ChipVariant::ForeignInfo},
        {"info-bad-sum", ChipVariant::InfoBadSum},
        {"key-bad-sum", ChipVariant::KeyBadSum},
        {"no-eeprom", ChipVariant::NoEeprom},
        {"eeprom-other-kind", ChipVariant::EepromOtherKind},
        {"eeprom-protected", ChipVariant::EepromProtected},
    };
    for (const auto &[name, v] : names)
        if (n == name) {
            *out = v;
            return true;
        }
    return false;
}

namespace {

void PutVersion(std::vector<uint8_t> &img, uint16_t v) {
    img[kFw1Version] = static_cast<uint8_t>(v >> 8);
    img[kFw1Version + 1] = static_cast<uint8_t>(v);
    img[kFw2Version] = static_cast<uint8_t>(v >> 8);
    img[kFw2Version + 1] = static_cast<uint8_t>(v);
}

// Firmware-like bytes: runs of code-looking values with some 0x00/0xFF fill.
void FillFirmware(std::mt19937 &rng, uint8_t *p, size_t n) {
    std::uniform_int_distribution<int> byte(0, 255), run(4, 40), kind(0, 9);
    size_t i = 0;
    while (i < n) {
        const size_t len = std::min<size_t>(static_cast<size_t>(run(rng)), n - i);
        const int k = kind(rng);
        for (size_t j = 0; j < len; ++j) p[i + j] = k == 0 ? 0x00 : k == 1 ? 0xFF : static_cast<uint8_t>(byte(rng));
        i += len;
    }
}

}  // namespace

GeneratedChip GenerateChip(const GenerateOptions &o) {
    std::mt19937 rng(o.seed);
    std::uniform_int_distribution<int> byte(0, 255);
    auto random_bytes = [&](uint8_t *p, size_t n) {
        for (size_t i = 0; i < n; ++i) p[i] = static_cast<uint8_t>(byte(rng));
    };

    GeneratedChip g;
    std::vector<uint8_t> &img = g.image;
    img.assign(kImageSize, 0);
    FillFirmware(rng, img.data(), kCustomer);
    random_bytes(&img[kCustomer], 0x100);
    PutLe16(&img[kCustomerSvid2], o.svid2);
    PutLe16(&img[kCustomerSvid1], o.svid1);
    PutLe16(&img[kCustomerPid], o.pid);
    FillFirmware(rng, &img[0x7200], kKeyBlock - 0x7200);
    random_bytes(&img[kKeyBlock], kImageSize - kKeyBlock);
    // A 1..127 kind byte marks the EEPROM/info block kind this tool handles.
    img[kInfoKind] = static_cast<uint8_t>(1 + byte(rng) % 127);
    const uint16_t chip_version =
        o.chip_version != 0 ? o.chip_version
                            : static_cast<uint16_t>(o.image_version >= 0x100 ? o.image_version - 0x100 : 0);
    PutVersion(img, o.image_version);
    FixChecksums(img);

    // The chip runs an older firmware with the same customer, key, tail and
    // info blocks; only its per-chip info bytes +4..+9 are its own.
    std::vector<uint8_t> &flash = g.flash;
    flash = img;
    FillFirmware(rng, flash.data(), kCustomer);
    FillFirmware(rng, &flash[0x7200], kKeyBlock - 0x7200);
    PutVersion(flash, chip_version);
    random_bytes(&flash[kInfo + 4], 6);
    if (std::equal(&flash[kInfo + 4], &flash[kInfo + 10], &img[kInfo + 4])) flash[kInfo + 4] ^= 0x5A;
    if (o.variant == ChipVariant::ForeignInfo) {
        // Another product's info block: same key word, different identity.
        for (size_t i = 0; i < 4; ++i) flash[kInfo + i] = static_cast<uint8_t>(flash[kInfo + i] ^ (0x11 << (i % 4)));
        flash[kInfo + 20] ^= 0xA5;
    }
    FixChecksums(flash);
    if (o.variant == ChipVariant::InfoBadSum) flash[kInfoSum] ^= 0x01;
    if (o.variant == ChipVariant::KeyBadSum) flash[kKeyBlock + 0x10] ^= 0x5A;

    ChipFacts &f = g.facts;
    f.fw_version = chip_version;
    f.version_from_flash = true;
    const Key4 image_key = DeriveImageKey(InfoKeyWord(flash.data()));
    const Key4 default_key = kFactoryAccessKey;
    f.accepted_keys = std::vector<Key4>{image_key, default_key};

    if (o.variant == ChipVariant::Locked || o.variant == ChipVariant::Blank) {
        std::fill(flash.begin(), flash.end(), 0x00);
        f.fw_version = 0x0000;
        if (o.variant == ChipVariant::Locked) {
            f.locked = true;
            f.accepted_keys = std::vector<Key4>{};
        } else {
            f.accepted_keys = std::vector<Key4>{default_key};
        }
    }
    f.usb_devices = std::vector<UsbDeviceFact>{
        {0x00010001, o.pid, o.svid1, static_cast<uint16_t>(f.fw_version != 0 ? f.fw_version : 0x0100), ""}};

    g.eeprom = flash;
    if (o.variant == ChipVariant::NoEeprom) f.eeprom_present = false;
    if (o.variant == ChipVariant::EepromProtected) f.eeprom_protected = true;
    if (o.variant == ChipVariant::EepromOtherKind) {
        g.eeprom[kInfoKind] = 0x00;
        FixInfoChecksum(&g.eeprom[kInfo]);
    }
    return g;
}

}  // namespace qzsim
