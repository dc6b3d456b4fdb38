#include "app/commands.h"

#include <cstring>

#include "app/command_line.h"
#include "app/error_codes.h"
#include "app/run_settings.h"
#include "flash/self_test.h"
#include "image/firmware_image.h"
#include "image/image_files.h"
#include "link/chip_link.h"
#include "link/connect.h"
#include "procedures/customer_svid.h"
#include "procedures/read_out.h"
#include "procedures/upgrade_firmware.h"
#include "procedures/whole_image.h"

bool IsCommandLetter(char letter)
{
    return letter != '\0' && std::strchr("UWMRVXB", letter) != nullptr;
}

// Connects, runs the procedure when the chip was found, and closes the link
// on every path.
template <typename Procedure>
static int RunOnChip(Procedure procedure)
{
    int result = ConnectAndReport();
    if (result == 0)
        result = procedure();
    chip_link.Close();
    return result;
}

// -U, -W, -M: the image must load before the chip is touched.
template <typename Procedure>
static int ProgramFromImage(int index, int argc, char **argv, Procedure procedure)
{
    const char *path = OptionValueText(&index, argc, argv);
    if (!path)
        return ERR_PARAMETER;
    image_path = path;
    if (LoadImage(path) <= 0)
        return index;
    return RunOnChip(procedure);
}

static int ReadOutCommand(int index, int argc, char **argv)
{
    const char *path = OptionValueText(&index, argc, argv);
    if (!path)
        return ERR_PARAMETER;
    image_path = path;
    return RunOnChip([path] {
        const int count = ReadOutFlash();
        if (count <= 0)
            return count;
        if (SaveImage(path, static_cast<size_t>(count)) < 0)
            return static_cast<int>(ERR_OUTPUT_FILE);
        read_out_completed = true;
        return count;
    });
}

static int VersionCommand(int index, int argc, char **argv)
{
    const char *path = OptionValueText(&index, argc, argv);
    if (path) {
        image_path = path;
        LoadImage(path);
        return index;
    }
    settings.switch_to_update = 0;
    RunOnChip([] { return 0; });
    return ERR_PARAMETER;
}

static int SvidCommand(int index, int argc, char **argv)
{
    if (ParseSvidList(index, argc, argv) < 0)
        return ERR_PARAMETER;
    return RunOnChip(ProgramCustomerSvid);
}

// -B[t] [file]: the optional image lends its key to the flash unlock.
static int SelfTestCommand(int index, int argc, char **argv)
{
    const char mode = argv[index][2];
    bist_mode = (mode == 't' || mode == 'T') ? 0x20 : 0x0E;
    const uint8_t *image = nullptr;
    if (index + 1 < argc) {
        image_path = argv[index + 1];
        if (LoadImage(image_path) > 0)
            image = FirmwareImage.data();
    }
    return RunOnChip([image] { return RunBist(image); });
}

int RunCommand(int index, int argc, char **argv)
{
    switch (argv[index][1]) {
    case 'U': return ProgramFromImage(index, argc, argv, UpgradeFirmware);
    case 'W': return ProgramFromImage(index, argc, argv, [] { return ProgramWholeImage(WHOLE_IMAGE_KEEP_CHIP_DATA); });
    case 'M': return ProgramFromImage(index, argc, argv, [] { return ProgramWholeImage(WHOLE_IMAGE_AS_LOADED); });
    case 'R': return ReadOutCommand(index, argc, argv);
    case 'V': return VersionCommand(index, argc, argv);
    case 'X': return SvidCommand(index, argc, argv);
    case 'B': return SelfTestCommand(index, argc, argv);
    default: return ERR_PARAMETER;
    }
}
