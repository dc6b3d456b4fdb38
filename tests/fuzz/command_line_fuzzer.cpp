// The command line as anyone may type it: the input is split at newlines
// into arguments for RunTool. No chip can be reached (the platform layer of
// this harness loads no library), so every command that needs one ends at
// the connect; options, numbers, access keys, SVID lists and image files
// named in the arguments are all parsed for real.
//
// Every '/' in an argument becomes '_': a path can only name an entry of the
// scratch folder, which holds a few image files (fw.bin, fw.dat, empty.bin,
// fw.DAT, a folder "dir"). Promises checked after each run:
//   - the result is never 0 (nothing succeeds without a chip) and always
//     leaves a non-zero exit status;
//   - a positive result is an argument index (at most argc - 1), or the
//     argument count 1 of a run without arguments;
//   - a negative result is one of the two a run without a chip can give:
//     ERR_PARAMETER, ERR_CHIP_NOT_FOUND;
//   - nothing is read out, verified or written: no hardware fault is raised
//     and the scratch folder holds the same entries as before.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "app/command_line.h"
#include "app/error_codes.h"
#include "app/exit_status.h"
#include "app/run_settings.h"
#include "flash/hardware_fault.h"
#include "flash/info_block.h"
#include "image/firmware_image.h"

namespace {

constexpr size_t kMaxArguments = 64;

void Require(bool condition, const char *what)
{
    if (!condition) {
        std::fprintf(stderr, "command_line_fuzzer: broken promise: %s\n", what);
        std::abort();
    }
}

void WriteFile(const std::string &path, const std::string &bytes)
{
    FILE *file = std::fopen(path.c_str(), "wb");
    Require(file != nullptr, "scratch file created");
    std::fwrite(bytes.data(), 1, bytes.size(), file);
    std::fclose(file);
}

size_t CountEntries(const std::string &dir)
{
    DIR *d = opendir(dir.c_str());
    Require(d != nullptr, "scratch folder readable");
    size_t n = 0;
    while (readdir(d) != nullptr)
        ++n;
    closedir(d);
    return n;
}

// The run happens inside the scratch folder; libFuzzer's own relative paths
// (corpus, artifacts) are used outside it.
struct ScratchFolder {
    std::string dir;
    size_t entries = 0;
    int home = -1;
    ScratchFolder()
    {
        const char *base = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
        std::string pattern = std::string(base) + "/qz_cli_fuzz_XXXXXX";
        Require(mkdtemp(pattern.data()) != nullptr, "scratch folder");
        dir = pattern;
        std::string image(IMAGE_SIZE, '\0');
        for (size_t i = 0; i < image.size(); ++i)
            image[i] = static_cast<char>((i * 7 + 3) & 0xFF);
        WriteFile(dir + "/fw.bin", image);
        WriteFile(dir + "/empty.bin", "");
        WriteFile(dir + "/fw.dat", "00010001\n1\n10101010\n# comment\n11111111\n");
        WriteFile(dir + "/fw.DAT", "no digits here\n");
        Require(mkdir((dir + "/dir").c_str(), 0755) == 0, "scratch sub-folder");
        home = open(".", O_RDONLY | O_DIRECTORY);
        Require(home >= 0, "the starting folder");
        entries = CountEntries(dir);
    }
    ~ScratchFolder()
    {
        std::error_code ignored;
        std::filesystem::remove_all(dir, ignored);
    }
};

ScratchFolder &Scratch()
{
    static ScratchFolder scratch;
    return scratch;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    ScratchFolder &scratch = Scratch();
    ResetRunSettings();
    ResetHardwareFault();
    chip_info.fill(0);

    std::vector<std::string> words = {"qzupgrade"};
    std::string current;
    for (size_t i = 0; i < size && words.size() < kMaxArguments; ++i) {
        const char c = static_cast<char>(data[i]);
        if (c == '\n') {
            words.push_back(current);
            current.clear();
        } else {
            current += c == '/' ? '_' : c;
        }
    }
    if (size > 0 && words.size() < kMaxArguments)
        words.push_back(current);
    // An embedded NUL ends the argument early, as it would on a real argv.
    std::vector<char *> argv;
    for (std::string &w : words)
        argv.push_back(w.data());
    argv.push_back(nullptr);
    const int argc = static_cast<int>(words.size());

    Require(chdir(scratch.dir.c_str()) == 0, "into the scratch folder");
    const int result = RunTool(argc, argv.data());
    std::fflush(stdout);
    Require(fchdir(scratch.home) == 0, "back to the starting folder");

    Require(result != 0, "nothing succeeds without a chip");
    if (result > 0)
        Require(argc == 1 ? result == 1 : result <= argc - 1, "a positive result is an argument index");
    else
        Require(result == ERR_PARAMETER || result == ERR_CHIP_NOT_FOUND, "only parameter or not-found errors");
    const bool verify = result == last_verify_result;
    Require(PosixExitStatus(result, read_out_completed, verify) != 0, "the exit status is not 0");
    Require(!read_out_completed && last_verify_result == 0 && hardware_fault == 0, "no chip work was done");
    Require(CountEntries(scratch.dir) == scratch.entries, "no file was written");
    return 0;
}
