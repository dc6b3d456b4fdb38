// qzsim: creates and inspects simulated chip folders.
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "chip.h"
#include "chip_folder.h"
#include "facts.h"
#include "image_gen.h"

using namespace qzsim;

namespace {

int Usage() {
    std::printf(
        "usage:\n"
        "  qzsim create <folder> [--image <out.bin>] [--variant <v>] [--version <x.y.z>]\n"
        "               [--chip-version <x.y.z>] [--seed <n>] [--svid <n>] [--svid2 <n>] [--pid <n>] [--trace]\n"
        "      variants: normal locked blank foreign-info info-bad-sum key-bad-sum no-eeprom\n"
        "                eeprom-other-kind eeprom-protected\n"
        "  qzsim station <folder> --link ft232h|usb|iic --boards <n> [--delay-us <n>] [create's options]\n"
        "      board1..board<n>: chip folders for one image; the folder's ftdi.txt or chip.txt lists them\n"
        "  qzsim facts <folder> <key> [values...]   set a fact (no values: remove it)\n"
        "  qzsim facts <folder> +<key> <values...>  add one more line of a repeatable fact\n"
        "  qzsim version <folder>                   running and stored firmware versions\n"
        "  qzsim show <folder>                      facts, versions, blocks, EEPROM agreement\n"
        "  qzsim key <key word>                     the access key derived from an image key word\n");
    return 2;
}

bool Number(const char *text, uint32_t *out) {
    if (!ParseNumber(text, out)) {
        std::fprintf(stderr, "qzsim: bad number '%s'\n", text);
        return false;
    }
    return true;
}

enum class StationLink { none, ft232h, usb, iic };

// The options of create, and those station adds.
struct CreateArgs {
    GenerateOptions generate;
    std::string image_path;
    bool trace = false;
    StationLink link = StationLink::none;
    uint32_t boards = 0;
    uint32_t delay_us = 0;
};

constexpr uint32_t kMaxBoards = 99;

// 0 when the options after the folder are good, else the exit status.
int ParseCreateArgs(int argc, char **argv, bool station, CreateArgs &args) {
    GenerateOptions &o = args.generate;
    for (int i = 3; i < argc; ++i) {
        const std::string a = argv[i];
        const char *v = i + 1 < argc ? argv[i + 1] : nullptr;
        uint32_t n = 0;
        if (a == "--trace") {
            args.trace = true;
            continue;
        }
        if (!v) return Usage();
        ++i;
        if (a == "--image") {
            args.image_path = v;
        } else if (a == "--variant") {
            if (!ParseVariant(v, &o.variant)) {
                std::fprintf(stderr, "qzsim: unknown variant '%s'\n", v);
                return 2;
            }
        } else if (a == "--version") {
            if (!ParseVersion(v, &o.image_version)) return Usage();
        } else if (a == "--chip-version") {
            if (!ParseVersion(v, &o.chip_version)) return Usage();
        } else if (a == "--seed") {
            if (!Number(v, &o.seed)) return 2;
        } else if (a == "--svid") {
            if (!Number(v, &n)) return 2;
            o.svid1 = static_cast<uint16_t>(n);
        } else if (a == "--svid2") {
            if (!Number(v, &n)) return 2;
            o.svid2 = static_cast<uint16_t>(n);
        } else if (a == "--pid") {
            if (!Number(v, &n)) return 2;
            o.pid = static_cast<uint16_t>(n);
        } else if (station && a == "--link") {
            const std::string link = v;
            args.link = link == "ft232h" ? StationLink::ft232h
                        : link == "usb"  ? StationLink::usb
                        : link == "iic"  ? StationLink::iic
                                         : StationLink::none;
            if (args.link == StationLink::none) return Usage();
        } else if (station && a == "--boards") {
            if (!Number(v, &args.boards)) return 2;
        } else if (station && a == "--delay-us") {
            if (!Number(v, &args.delay_us)) return 2;
        } else {
            return Usage();
        }
    }
    return 0;
}

bool WriteChip(const std::string &folder, const GeneratedChip &g) {
    std::string error;
    if (WriteChipFolder(folder, g.facts, g.flash.data(), g.eeprom.data(), &error)) return true;
    std::fprintf(stderr, "qzsim: %s\n", error.c_str());
    return false;
}

bool WriteImage(const std::string &path, const GeneratedChip &g) {
    if (path.empty()) return true;
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    f.write(reinterpret_cast<const char *>(g.image.data()), static_cast<std::streamsize>(g.image.size()));
    if (f) return true;
    std::fprintf(stderr, "qzsim: cannot write %s\n", path.c_str());
    return false;
}

int Create(int argc, char **argv) {
    if (argc < 3) return Usage();
    CreateArgs args;
    if (const int status = ParseCreateArgs(argc, argv, false, args)) return status;
    GeneratedChip g = GenerateChip(args.generate);
    g.facts.trace = args.trace;
    return WriteChip(argv[2], g) && WriteImage(args.image_path, g) ? 0 : 1;
}

// Board k's chip folder, and the line of the root folder's listing that names it.
std::string StationLine(StationLink link, uint32_t k, const ChipFacts &facts, const std::string &dir) {
    if (link == StationLink::ft232h) {
        char serial[16];
        std::snprintf(serial, sizeof serial, "FTQZ%04u", static_cast<unsigned>(k));
        return "board 0x" + Hex(0x11 + k, 2) + " serial " + serial + " chip " + dir;
    }
    if (link == StationLink::usb) {
        UsbDeviceFact device = facts.usb_devices->front();
        device.device_key += k - 1;
        device.chip_dir = dir;
        return "usb_device " + FormatUsbDevice(device);
    }
    return "iic_adapter " + FormatAdapter({0x0000A000 + k, 0x00000002, dir});
}

int Station(int argc, char **argv) {
    if (argc < 3) return Usage();
    CreateArgs args;
    if (const int status = ParseCreateArgs(argc, argv, true, args)) return status;
    if (args.link == StationLink::none || args.boards < 1 || args.boards > kMaxBoards) return Usage();
    GeneratedChip g = GenerateChip(args.generate);
    g.facts.trace = args.trace;
    g.facts.transfer_delay_us = args.delay_us;
    const std::filesystem::path root = argv[2];
    std::string listing = "# A station of " + std::to_string(args.boards) + " boards, each with its own chip folder.\n";
    for (uint32_t k = 1; k <= args.boards; ++k) {
        const std::string dir = "board" + std::to_string(k);
        if (!WriteChip((root / dir).string(), g)) return 1;
        listing += StationLine(args.link, k, g.facts, dir) + "\n";
    }
    const auto listing_path = root / (args.link == StationLink::ft232h ? "ftdi.txt" : "chip.txt");
    if (!WriteTextFile(listing_path.string(), listing)) {
        std::fprintf(stderr, "qzsim: cannot write %s\n", listing_path.string().c_str());
        return 1;
    }
    return WriteImage(args.image_path, g) ? 0 : 1;
}

int Facts(int argc, char **argv) {
    if (argc < 4) return Usage();
    const std::string path = (std::filesystem::path(argv[2]) / "chip.txt").string();
    std::string key = argv[3];
    const bool add = !key.empty() && key[0] == '+';
    if (add) key = key.substr(1);
    std::string line = key;
    for (int i = 4; i < argc; ++i) line += std::string(" ") + argv[i];

    bool exists = false;
    const std::string text = ReadTextFile(path, &exists);
    std::string out;
    bool placed = false;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        const std::string raw = text.substr(start, end - start);
        start = end + 1;
        auto lines = ParseFactLines(raw);
        const bool same = !lines.empty() && lines[0].key == key;
        if (same && !add) {
            if (!placed && argc > 4) out += line + "\n";
            placed = true;
            continue;
        }
        out += raw + "\n";
    }
    if ((add || !placed) && argc > 4) out += line + "\n";

    ChipFacts check;
    std::string error;
    if (!ParseChipFacts(ParseFactLines(out), &check, &error)) {
        std::fprintf(stderr, "qzsim: %s\n", error.c_str());
        return 1;
    }
    if (!WriteTextFile(path, out)) {
        std::fprintf(stderr, "qzsim: cannot write %s\n", path.c_str());
        return 1;
    }
    return 0;
}

std::string Version(const uint8_t *p) { return FormatVersion(static_cast<uint16_t>(p[0] << 8 | p[1])); }

int Show(int argc, char **argv, bool full) {
    if (argc < 3) return Usage();
    std::string error;
    auto chip = LoadChipFolder(argv[2], &error);
    if (!chip) {
        std::fprintf(stderr, "qzsim: %s\n", error.c_str());
        return 1;
    }
    const auto &fl = chip->flash();
    std::printf("running %s\nflash FW1 %s FW2 %s\n", FormatVersion(chip->RunningVersion()).c_str(),
                Version(&fl[layout::kFw1Version]).c_str(), Version(&fl[layout::kFw2Version]).c_str());
    if (!full) return 0;
    const auto &ee = chip->eeprom().data();
    std::printf("eeprom FW1 %s FW2 %s\n", Version(&ee[layout::kFw1Version]).c_str(),
                Version(&ee[layout::kFw2Version]).c_str());
    std::printf("svid1 0x%04X svid2 0x%04X pid 0x%04X\n", GetLe16(&fl[layout::kCustomerSvid1]),
                GetLe16(&fl[layout::kCustomerSvid2]), GetLe16(&fl[layout::kCustomerPid]));
    auto check = [](const char *name, const uint8_t *at, const uint8_t *data, size_t n) {
        std::printf("%s checksum %s\n", name, GetLe16(at) == Sum16(data, n) ? "ok" : "BAD");
    };
    check("customer", &fl[layout::kCustomerSum], &fl[layout::kCustomer], 158);
    check("key block", &fl[layout::kKeyBlockSum], &fl[layout::kKeyBlock], layout::kKeyBlockData);
    check("info", &fl[layout::kInfoSum], &fl[layout::kInfo], 30);
    std::printf("info block:");
    for (size_t i = 0; i < 32; ++i) std::printf(" %02X", fl[layout::kInfo + i]);
    std::printf("\nkeys:");
    for (const Key4 &k : chip->AcceptedKeys()) std::printf(" %s", FormatKey(k).c_str());
    size_t diff = 0;
    for (size_t i = 0; i < Chip::kFlashSize; ++i) diff += fl[i] != ee[i];
    std::printf("\neeprom bytes differing from flash: %zu\n\n%s", diff, FormatChipFacts(chip->facts()).c_str());
    return 0;
}

}  // namespace

int main(int argc, char **argv) {
    if (argc < 2) return Usage();
    const std::string cmd = argv[1];
    if (cmd == "create") return Create(argc, argv);
    if (cmd == "station") return Station(argc, argv);
    if (cmd == "facts") return Facts(argc, argv);
    if (cmd == "version") return Show(argc, argv, false);
    if (cmd == "show") return Show(argc, argv, true);
    if (cmd == "key" && argc == 3) {
        uint32_t word = 0;
        if (!Number(argv[2], &word)) return 2;
        std::printf("%s\n", FormatKey(DeriveImageKey(word)).c_str());
        return 0;
    }
    return Usage();
}
