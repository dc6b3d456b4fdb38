#pragma once
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "tool_runner.h"

using Bytes = std::vector<uint8_t>;

// One way of reaching the chip: the options that select the link, and how
// the tool is started (natively, or as the Windows build under Wine).
struct LinkCase {
    std::string name;
    std::vector<std::string> options;  // "-C", "-F", or none for USB
    bool usb = false;
};

std::vector<LinkCase> AllLinks();

// A fresh simulated chip with a matching image in a temporary folder.
class ChipFixture {
public:
    ChipFixture();
    ~ChipFixture();

    // qzsim create; extra options such as "--variant", "locked".
    void Create(const std::vector<std::string> &extra = {});
    // qzsim facts: set (or with no values remove) one fact of chip.txt.
    void Fact(const std::string &key, const std::vector<std::string> &values);

    ToolRun Run(const std::vector<std::string> &args) const;

    Bytes Flash() const { return ReadFile(chip + "/flash.bin"); }
    Bytes Eeprom() const { return ReadFile(chip + "/eeprom.bin"); }
    Bytes Image() const { return ReadFile(image); }
    std::string Path(const std::string &name) const { return (dir / name).string(); }

    static Bytes ReadFile(const std::string &path);

    std::filesystem::path dir;
    std::string chip;
    std::string image;
};

// "\rLabel%04X" for each offset from first to last in steps, as the tool
// rewrites a progress line.
std::string Progress(const std::string &label, int first, int last, int step);

// Lines the tool prints around a chip command.
std::string ConnectLines(const LinkCase &link, const std::string &version);

inline void PrintTo(const LinkCase &link, std::ostream *os) { *os << link.name; }
