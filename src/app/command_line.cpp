#include "app/command_line.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "app/commands.h"
#include "app/error_codes.h"
#include "app/run_settings.h"
#include "flash/access_key.h"

void PrintBanner()
{
    std::printf("===================================================\n");
    std::printf("QZ4850 Upgrade Tool V2.3 for Windows Command Prompt\n");
    std::printf("===================================================\n");
}

void PrintUsage(const char *program)
{
    std::printf("Usage: %s [configuration] <command>\n", program);
    std::printf("Configuration:\n");
    std::printf("  -F:  Upgrade via FT232H USB-IIC board\n");
    std::printf("  -S<0x1234>:  Specify SVID of USB BB device\n");
    std::printf("  -P<0x1234>:  Specify Product ID of USB BB device\n");
    std::printf("Command:\n");
    std::printf("  -U<file>: Upgrade firmware in the image to chip\n");
    std::printf("  -W<file>: Program the whole image while keep the key in chip\n");
    std::printf("  -V[file]: Display firmware version of the image or chip\n");
    std::printf("  -X<SVID1>[,SVID2]: Program customer SVID to flash\n");
}

// strtol with base 0, saturated to 32 bits as a 32-bit long would be.
// Returns false when no character could be converted.
static bool ConvertNumber(const char *text, int *value, const char **end)
{
    char *stop = nullptr;
    errno = 0;
    long v = std::strtol(text, &stop, 0);
    if (stop == text)
        return false;
    if (v > INT_MAX)
        v = INT_MAX;
    if (v < INT_MIN)
        v = INT_MIN;
    *value = static_cast<int>(v);
    if (end)
        *end = stop;
    return true;
}

const char *OptionValueText(int *index, int argc, char **argv)
{
    const char *rest = argv[*index] + 2;
    if (*rest)
        return rest;
    if (*index + 1 < argc) {
        ++*index;
        return argv[*index];
    }
    return nullptr;
}

int ParseNumberOption(int index, int argc, char **argv, int *value)
{
    const int option_index = index;
    const char *text = OptionValueText(&index, argc, argv);
    int parsed = 0;
    if (!text || !ConvertNumber(text, &parsed, nullptr)) {
        std::printf("Error parameter %s\n", argv[option_index]);
        return ERR_PARAMETER;
    }
    *value = parsed;
    return index;
}

int ParseSvidList(int index, int argc, char **argv)
{
    const int option_index = index;
    const char *text = OptionValueText(&index, argc, argv);
    int svids[2] = {0, 0};
    int count = 0;
    while (text && count < 2) {
        const char *end = nullptr;
        if (!ConvertNumber(text, &svids[count], &end))
            break;
        ++count;
        if (*end != ',')
            break;
        text = end + 1;
    }
    if (count == 0) {
        std::printf("Error parameter %s\n", argv[option_index]);
        return ERR_PARAMETER;
    }
    target_svid1 = svids[0];
    target_svid2 = count == 2 ? svids[1] : 0;
    if (count == 2)
        std::printf("Target VendorID: %04X, %04X\n", target_svid1, target_svid2);
    else
        std::printf("Target VendorID: %04X\n", target_svid1);
    return index;
}

// A byte-wide setting keeps the low 8 bits of the number.
static int SetByte(int index, int argc, char **argv, uint8_t *field)
{
    int value = 0;
    const int result = ParseNumberOption(index, argc, argv, &value);
    if (result >= 0)
        *field = static_cast<uint8_t>(value);
    return result;
}

// Applies one configuration option. Returns the index of the last argument
// consumed, ERR_PARAMETER, or 0 when the letter is not a configuration option.
static int ApplyConfigurationOption(int index, int argc, char **argv)
{
    switch (argv[index][1]) {
    case '0':
        settings.program_flash = 0;
        std::printf("D::Do not program Flash\n");
        return index;
    case '1':
        complement_preprogram = 1;
        std::printf("D::Complement bits Preprogram\n");
        return index;
    case '2':
        settings.program_eeprom = 0;
        std::printf("D::Do not program EEPROM\n");
        return index;
    case '4':
        erase_mode = 4;
        std::printf("D::Hardware preprogram(all 1)\n");
        return index;
    case 'A': return ParseNumberOption(index, argc, argv, &settings.i2c_address);
    case 'C': settings.link_kind = LINK_I2C_ADAPTER; return index;
    case 'F': settings.link_kind = LINK_FT232H; return index;
    case 'D': {
        const char *text = OptionValueText(&index, argc, argv);
        if (!text)
            return ERR_PARAMETER;
        if (std::strncmp(text, kDumpAccessCode, kDumpAccessCodeLength) == 0)
            dump_mode = true;
        return index;
    }
    case 'I': {
        const char *text = OptionValueText(&index, argc, argv);
        if (!text)
            return ERR_PARAMETER;
        ParseAccessKey(text);
        return index;
    }
    case 'E': return SetByte(index, argc, argv, &settings.erase_passes);
    case 'L': return SetByte(index, argc, argv, &settings.program_passes);
    case 'l': return SetByte(index, argc, argv, &settings.preprogram_passes);
    case 'P': return ParseNumberOption(index, argc, argv, &settings.pid);
    case 'S': return ParseNumberOption(index, argc, argv, &settings.svid);
    default: return 0;
    }
}

int RunTool(int argc, char **argv)
{
    PrintBanner();
    const char *program = argc > 0 ? argv[0] : "qzupgrade";
    if (argc < 2) {
        PrintUsage(program);
        return argc;
    }
    for (int index = 1;; ++index) {
        const char *arg = argv[index];
        if (arg[0] != '-' || arg[1] == '\0') {
            PrintUsage(program);
            return ERR_PARAMETER;
        }
        if (IsCommandLetter(arg[1]))
            return RunCommand(index, argc, argv);
        const int last = ApplyConfigurationOption(index, argc, argv);
        if (last <= 0) {
            PrintUsage(program);
            return ERR_PARAMETER;
        }
        index = last;
        if (index + 1 >= argc) {
            PrintUsage(program);
            return index;
        }
    }
}
