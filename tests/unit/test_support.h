#pragma once
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "app/run_settings.h"
#include "flash/info_block.h"
#include "flash/chip_registers.h"
#include "flash/hardware_fault.h"
#include "image/firmware_image.h"

// Runs fn with stdout captured and returns what it printed.
inline std::string CapturePrinted(const std::function<void()> &fn)
{
    testing::internal::CaptureStdout();
    fn();
    std::fflush(stdout);
    return testing::internal::GetCapturedStdout();
}

// argv for the tool's parser, with storage that outlives the call.
struct Args {
    std::vector<std::string> text;
    std::vector<char *> argv;
    explicit Args(std::vector<std::string> words) : text(std::move(words))
    {
        for (auto &w : text)
            argv.push_back(w.data());
        argv.push_back(nullptr);
    }
    int argc() const { return static_cast<int>(text.size()); }
    char **data() { return argv.data(); }
};

// A fresh temporary folder per test, removed afterwards.
class TempDir {
public:
    TempDir()
    {
        const auto *info = testing::UnitTest::GetInstance()->current_test_info();
        path_ = std::filesystem::temp_directory_path() /
                ("qz_" + std::string(info->test_suite_name()) + "_" + info->name() + "_" +
                 std::to_string(::testing::UnitTest::GetInstance()->random_seed()));
        std::filesystem::remove_all(path_);
        std::filesystem::create_directories(path_);
    }
    ~TempDir() { std::filesystem::remove_all(path_); }
    std::string File(const std::string &name) const { return (path_ / name).string(); }
    const std::filesystem::path &path() const { return path_; }

private:
    std::filesystem::path path_;
};

// Every test starts from the process-start state of the tool's globals.
class ToolStateTest : public testing::Test {
protected:
    void SetUp() override
    {
        ResetRunSettings();
        ResetHardwareFault();
        ResetLinkFailures();
        chip_info.fill(0);
        FirmwareImage.fill(0);
    }
};
