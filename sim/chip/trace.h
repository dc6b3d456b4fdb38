// Readers for the files a simulated chip leaves in its folder, for tests.
//
// trace.txt: one line per register transfer, "W 05 30 05 00 08 38 80":
// operation (R or W), page, first register, then the bytes, all hex.
// Lines starting with '#' are comments.
//
// state.txt: "key value..." lines (see sim/README.md).
#pragma once
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace qzsim {

struct TraceEntry {
    char op = 0;  // 'R' or 'W'
    uint8_t page = 0;
    uint8_t reg = 0;
    std::vector<uint8_t> bytes;

    bool operator==(const TraceEntry &) const = default;
};

inline std::vector<TraceEntry> ParseTrace(const std::string &text) {
    std::vector<TraceEntry> out;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream words(line);
        std::string op;
        if (!(words >> op) || op.empty() || op[0] == '#') continue;
        TraceEntry e;
        e.op = op[0];
        std::string w;
        int index = 0;
        while (words >> w) {
            const auto v = static_cast<uint8_t>(std::strtoul(w.c_str(), nullptr, 16));
            if (index == 0)
                e.page = v;
            else if (index == 1)
                e.reg = v;
            else
                e.bytes.push_back(v);
            ++index;
        }
        out.push_back(std::move(e));
    }
    return out;
}

inline std::vector<TraceEntry> ReadTrace(const std::string &path) {
    std::ifstream f(path, std::ios::binary);
    std::ostringstream s;
    s << f.rdbuf();
    return ParseTrace(s.str());
}

// state.txt as key -> values (every value a word of the line).
inline std::map<std::string, std::vector<std::string>> ReadStateFile(const std::string &path) {
    std::map<std::string, std::vector<std::string>> out;
    std::ifstream f(path, std::ios::binary);
    std::string line;
    while (std::getline(f, line)) {
        if (line.empty() || line[0] == '#') continue;
        std::istringstream words(line);
        std::string key, w;
        words >> key;
        auto &values = out[key];
        while (words >> w) values.push_back(w);
    }
    return out;
}

}  // namespace qzsim
