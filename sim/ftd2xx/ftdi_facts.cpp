#include "ftdi_facts.h"

#include <cstdio>

namespace qzsim {

namespace {

constexpr uint32_t kDefaultLocation = 0x11;

std::string DefaultSerial(size_t index)
{
    char text[16];
    std::snprintf(text, sizeof text, "FTQZ%04u", static_cast<unsigned>(index + 1));
    return text;
}

bool Fail(const FactLine &line, const std::string &why, std::string *error)
{
    if (error)
        *error = "ftdi.txt line " + std::to_string(line.line_number) + ": " + why;
    return false;
}

bool ParseBoard(const FactLine &line, size_t index, BoardFact *board, std::string *error)
{
    if (line.values.empty() || !ParseNumber(line.values[0], &board->location))
        return Fail(line, "board needs a location ID", error);
    board->serial = DefaultSerial(index);
    for (size_t i = 1; i < line.values.size(); ++i) {
        const std::string &word = line.values[i];
        if (word == "open") {
            board->held_elsewhere = true;
            continue;
        }
        if (i + 1 >= line.values.size())
            return Fail(line, "'" + word + "' needs a value", error);
        const std::string &value = line.values[++i];
        if (word == "serial") {
            if (value.size() > 15)
                return Fail(line, "serial longer than 15 characters", error);
            board->serial = value;
        } else if (word == "description") {
            if (value.size() > 63)
                return Fail(line, "description longer than 63 characters", error);
            board->description = value;
            for (char &c : board->description)
                if (c == '_')
                    c = ' ';
        } else if (word == "chip") {
            board->chip_dir = value;
        } else {
            return Fail(line, "unknown board word '" + word + "'", error);
        }
    }
    return true;
}

}  // namespace

bool ParseFtdiFacts(const std::string &text, FtdiFacts *facts, std::string *error)
{
    struct CountKey {
        const char *key;
        uint32_t FtdiFacts::*field;
    };
    static constexpr CountKey kCounts[] = {
        {"write_fail_from", &FtdiFacts::write_fail_from},
        {"write_fail_at", &FtdiFacts::write_fail_at},
        {"write_timeout_at", &FtdiFacts::write_timeout_at},
        {"read_fail_from", &FtdiFacts::read_fail_from},
        {"read_fail_at", &FtdiFacts::read_fail_at},
        {"short_reply_from", &FtdiFacts::short_reply_from},
        {"short_reply_at", &FtdiFacts::short_reply_at},
        {"late_reply_at", &FtdiFacts::late_reply_at},
        {"late_tail_at", &FtdiFacts::late_tail_at},
        {"split_reply_at", &FtdiFacts::split_reply_at},
        {"nack_address_from", &FtdiFacts::nack_address_from},
        {"nack_write_byte", &FtdiFacts::nack_write_byte},
        {"timeout_scale", &FtdiFacts::timeout_scale},
        {"reply_delay_ms", &FtdiFacts::reply_delay_ms},
    };
    struct FlagKey {
        const char *key;
        bool FtdiFacts::*field;
    };
    static constexpr FlagKey kFlags[] = {
        {"no_devices", &FtdiFacts::no_devices},
        {"list_fail", &FtdiFacts::list_fail},
        {"enumerate_fail", &FtdiFacts::enumerate_fail},
        {"usb_init_fail", &FtdiFacts::usb_init_fail},
        {"open_fail", &FtdiFacts::open_fail},
        {"latency_fail", &FtdiFacts::latency_fail},
        {"no_bad_command_echo", &FtdiFacts::no_bad_command_echo},
    };

    for (const FactLine &line : ParseFactLines(text)) {
        if (line.key == "board") {
            BoardFact board;
            if (!ParseBoard(line, facts->boards.size(), &board, error))
                return false;
            facts->boards.push_back(board);
            continue;
        }
        if (line.key == "capture") {
            facts->capture = line.values.empty() ? kFtdiCaptureFile : line.values[0];
            continue;
        }
        if (line.key == "vcd") {
            if (line.values.size() != 1)
                return Fail(line, "vcd needs one file name", error);
            facts->vcd = line.values[0];
            continue;
        }
        bool known = false;
        for (const FlagKey &flag : kFlags) {
            if (line.key == flag.key) {
                facts->*flag.field = true;
                known = true;
            }
        }
        for (const CountKey &count : kCounts) {
            if (line.key == count.key) {
                if (line.values.size() != 1 || !ParseNumber(line.values[0], &(facts->*count.field)))
                    return Fail(line, line.key + " needs one number", error);
                known = true;
            }
        }
        if (!known)
            return Fail(line, "unknown key '" + line.key + "'", error);
    }
    if (facts->timeout_scale == 0)
        facts->timeout_scale = 1;
    if (facts->boards.empty()) {
        BoardFact board;
        board.location = kDefaultLocation;
        board.serial = DefaultSerial(0);
        facts->boards.push_back(board);
    }
    return true;
}

}  // namespace qzsim
