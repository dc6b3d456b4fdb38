#include "chip_fixture.h"

#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <iterator>



namespace fs = std::filesystem;

std::vector<LinkCase> AllLinks()
{
    std::vector<LinkCase> links = {{"Usb", {}, true}, {"Adapter", {"-C"}, false}};
    if (fs::exists(std::string(QZ_BIN_DIR) + "/libftd2xx.so") || fs::exists(std::string(QZ_BIN_DIR) + "/ftd2xx64.dll"))
        links.push_back({"Ft232h", {"-F"}, false});
    return links;
}

ChipFixture::ChipFixture()
{
    const auto *info = testing::UnitTest::GetInstance()->current_test_info();
    std::string name = std::string(info->test_suite_name()) + "_" + info->name();
    for (char &c : name)
        if (c == '/')
            c = '_';
    dir = fs::temp_directory_path() / ("qz_e2e_" + std::to_string(getpid()) + "_" + name);
    fs::remove_all(dir);
    fs::create_directories(dir);
    chip = (dir / "chip").string();
    image = (dir / "firmware.bin").string();
}

ChipFixture::~ChipFixture()
{
    if (!testing::Test::HasFailure())
        fs::remove_all(dir);
}

static void RunQzsim(const std::vector<std::string> &args)
{
    std::string command = ShellQuote(QZSIM_PATH);
    for (const auto &arg : args)
        command += " " + ShellQuote(arg);
    command += " >/dev/null";
    ASSERT_EQ(std::system(command.c_str()), 0) << command;
}

void ChipFixture::Create(const std::vector<std::string> &extra)
{
    std::vector<std::string> args = {"create", chip, "--image", image};
    args.insert(args.end(), extra.begin(), extra.end());
    RunQzsim(args);
}

void ChipFixture::Fact(const std::string &key, const std::vector<std::string> &values)
{
    std::vector<std::string> args = {"facts", chip, key};
    args.insert(args.end(), values.begin(), values.end());
    RunQzsim(args);
}

ToolRun ChipFixture::Run(const std::vector<std::string> &args) const
{
    RunOptions options;
    options.chip_dir = chip;
    options.work_dir = dir.string();
    return RunQzupgrade(args, options);
}

Bytes ChipFixture::ReadFile(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    return Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

std::string Progress(const std::string &label, int first, int last, int step)
{
    std::string out;
    char text[16];
    for (int offset = first; offset <= last; offset += step) {
        std::snprintf(text, sizeof text, "%04X", offset);
        out += "\r" + label + text;
    }
    return out;
}

std::string ConnectLines(const LinkCase &link, const std::string &version)
{
    return (link.usb ? "Switching.......done!\n" : "") + std::string("Running FW V") + version + "\n";
}
