// Gang runs of the built tool (--all, lists of boards) on simulated stations:
// each board's worker process, its lines, its log line, and the summary.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <regex>

#include "chip_fixture.h"

namespace {

// The summary: the table from its header on, with the seconds column blanked.
std::string Summary(const std::string &out)
{
    const size_t header = out.find("Board ");
    if (header == std::string::npos)
        return "(no summary)";
    return std::regex_replace(out.substr(header), std::regex("[0-9]+\\.[0-9]{3}\n"), "S\n");
}

// A station of boards, each with its own chip folder, in the fixture's folder.
class GangE2eTest : public ChipFixture, public testing::Test {
protected:
    std::string Station(const std::string &link, int boards)
    {
        const std::string station = Path("station");
        RunQzsim({"station", station, "--link", link, "--boards", std::to_string(boards), "--image", image});
        return station;
    }
    std::string Board(int k) const { return Path("station/board" + std::to_string(k)); }
    Bytes BoardFlash(int k) const { return ReadFile(Board(k) + "/flash.bin"); }
    Bytes CustomerBlock(int k) const
    {
        const Bytes flash = BoardFlash(k);
        return Bytes(flash.begin() + 0x7100, flash.begin() + 0x7200);
    }
    ToolRun RunOn(const std::string &station, const std::vector<std::string> &args) const
    {
        return RunQzupgrade(args, {.chip_dir = station, .work_dir = dir.string()});
    }
};

// Each line a board printed is whole and names its board.
void ExpectBoardLinesWhole(const std::string &out, const std::vector<std::string> &labels)
{
    const std::vector<std::string> lines = Lines(out);
    auto line = std::find_if(lines.begin(), lines.end(), [](const std::string &l) { return l.starts_with("Boards:"); });
    ASSERT_NE(line, lines.end()) << out;
    for (++line; line != lines.end() && !line->starts_with("Board "); ++line) {
        const auto names = [&](const std::string &label) { return line->starts_with("[" + label + "] "); };
        EXPECT_TRUE(std::any_of(labels.begin(), labels.end(), names)) << *line;
        EXPECT_EQ(line->find('\r'), std::string::npos) << *line;
    }
}

// Four FT232H boards, one whose verify fails, one without a chip: exactly
// those two fail, in the summary and in their own log lines, and the other
// two are programmed. Over D2XX and over libftdi1.
TEST_F(GangE2eTest, FourFt232hBoardsTwoFaultyResultsStayWithTheirBoards)
{
    for (const std::vector<std::string> &library : {std::vector<std::string>{}, {"--ftdi-lib", "libftdi"}}) {
        const std::string station = Station("ft232h", 4);
        RunQzsim({"facts", Board(2), "weak_cell", "0x7100", "30"});
        RunQzsim({"facts", Board(3), "i2c_nack_address_from", "1"});
        const Bytes untouched = CustomerBlock(1);
        std::vector<std::string> args = {"-F"};
        args.insert(args.end(), library.begin(), library.end());
        args.insert(args.end(), {"--all", "--log", Path("station.log"), "-X", "0x4321,0x8765"});
        const ToolRun run = RunOn(station, args);
        SCOPED_TRACE(run.out);

        EXPECT_EQ(run.status, 64);  // board FTQZ0002's verify difference, the first failure in list order
        ExpectBoardLinesWhole(run.out, {"FTQZ0001", "FTQZ0002", "FTQZ0003", "FTQZ0004"});
        EXPECT_EQ(Summary(run.out), "Board     Chip before  Result                                 Status  Seconds\n"
                                    "FTQZ0001  1.1.3        Verify....0000-00E0  done!             0       S\n"
                                    "FTQZ0002  1.1.3        Verify....0000-00E0  error 0x00000001  1       S\n"
                                    "FTQZ0003  -            Could not find chip(-258)              -258    S\n"
                                    "FTQZ0004  1.1.3        Verify....0000-00E0  done!             0       S\n"
                                    "2 of 4 boards passed; the result is board FTQZ0002's\n");

        const std::vector<nlohmann::json> log = LogLines(Path("station.log"));
        ASSERT_EQ(log.size(), 4u);
        const std::map<std::string, int> results = {{"FTQZ0001", 0}, {"FTQZ0002", 1}, {"FTQZ0003", -258}, {"FTQZ0004", 0}};
        for (const nlohmann::json &line : log) {
            EXPECT_EQ(line["gang"], log.front()["gang"]);
            const std::string serial = line["args"][4];  // qzupgrade --gang ID,N --serial S
            EXPECT_EQ(line["gang_place"], serial.back() - '0') << serial;
            EXPECT_EQ(line["result"], results.at(serial)) << serial;
            if (line["device"].is_object()) {
                EXPECT_EQ(line["device"]["serial"], serial);
            }
        }
        EXPECT_NE(CustomerBlock(1), untouched);
        EXPECT_EQ(CustomerBlock(4), CustomerBlock(1));
        EXPECT_EQ(CustomerBlock(3), untouched);
        std::filesystem::remove_all(station);
        std::filesystem::remove(Path("station.log"));
    }
}

// A board another program holds: --all leaves it out; named in a list, it
// alone fails.
TEST_F(GangE2eTest, ABoardHeldElsewhereIsSkippedByAllAndRefusedWhenNamed)
{
    const std::string station = Station("ft232h", 2);
    std::ofstream(station + "/ftdi.txt", std::ios::app) << "board 0x40 serial FTHELD open chip board1\n";

    const ToolRun all = RunOn(station, {"-F", "--all", "-X", "0x4321"});
    EXPECT_EQ(all.status, 0) << all.out;
    EXPECT_NE(all.out.find("Boards: FTQZ0001 FTQZ0002\n"), std::string::npos) << all.out;
    EXPECT_NE(all.out.find("2 of 2 boards passed\n"), std::string::npos) << all.out;

    // An image that does not load stops each board at the gang's own word.
    const ToolRun missing = RunOn(station, {"-F", "--all", "-U", "missing.bin"});
    EXPECT_EQ(missing.status, 4) << missing.out;
    EXPECT_NE(missing.out.find("0 of 2 boards passed; the result is board FTQZ0001's\n"), std::string::npos)
        << missing.out;

    const ToolRun named = RunOn(station, {"-F", "--serial", "FTHELD,FTQZ0002", "-X", "0x4321"});
    EXPECT_EQ(named.status, 102) << named.out;
    EXPECT_NE(named.out.find("1 of 2 boards passed; the result is board FTHELD's\n"), std::string::npos) << named.out;
    EXPECT_NE(named.out.find("[FTQZ0002] Verify....0000-00E0  done!\n"), std::string::npos) << named.out;

    // No free board at all: the list says why.
    std::ofstream(station + "/ftdi.txt") << "board 0x40 serial FTHELD open chip board1\n";
    const ToolRun none = RunOn(station, {"-F", "--all", "-X", "0x4321"});
    EXPECT_EQ(none.status, 102) << none.out;
    EXPECT_NE(none.out.find("0: FT232H board serial FTHELD, location 0x40, \""), std::string::npos) << none.out;
    EXPECT_NE(none.out.find("open in another program\nCould not find chip(-258)\n"), std::string::npos) << none.out;

    // Boards that share a serial go by their location.
    std::ofstream(station + "/ftdi.txt") << "board 0x41 serial FTSAME chip board1\nboard 0x42 serial FTSAME chip board2\n";
    const ToolRun same = RunOn(station, {"-F", "--all", "-X", "0x4321"});
    EXPECT_EQ(same.status, 0) << same.out;
    EXPECT_NE(same.out.find("Boards: 0x41 0x42\n"), std::string::npos) << same.out;
}

// USB Billboard devices and I2C adapters go by their index, as --list
// numbers them; with --json every event carries its board and the summary
// is the last event; -R writes each board's flash to a file of its own, the
// board before the extension.
TEST_F(GangE2eTest, UsbDevicesAndAdaptersByIndexInTextAndJson)
{
    for (const auto &[link, option] : {std::pair<std::string, std::string>{"usb", "-S0x1234"}, {"iic", "-C"}}) {
        const std::string station = Station(link, 2);
        const Bytes untouched = CustomerBlock(1);
        const ToolRun text = RunOn(station, {option, "--all", "-X", "0x4321"});
        EXPECT_EQ(text.status, 0) << text.out;
        ExpectBoardLinesWhole(text.out, {"0", "1"});
        EXPECT_NE(text.out.find("2 of 2 boards passed\n"), std::string::npos) << text.out;
        EXPECT_NE(CustomerBlock(1), untouched) << link;
        EXPECT_EQ(CustomerBlock(2), CustomerBlock(1)) << link;
        EXPECT_FALSE(std::filesystem::exists(station + "/flash.bin")) << "the listing's folder is no chip";

        const ToolRun json = RunOn(station, {option, "--json", "--index", "1,0", "-X", "0x4321"});
        EXPECT_EQ(json.status, 0) << json.out;
        nlohmann::json event;  // the last one read: the summary
        size_t board_events = 0;
        for (const std::string &line : Lines(json.out)) {
            event = nlohmann::json::parse(line);
            if (event.contains("board")) {
                EXPECT_TRUE(event["board"] == "1" || event["board"] == "0") << event;
                ++board_events;
            }
        }
        EXPECT_GT(board_events, 10u);
        EXPECT_EQ(event["event"], "summary");
        EXPECT_EQ(event["passed"], 2);
        EXPECT_EQ(event["boards"][0]["board"], "1");  // in the list's order
        EXPECT_EQ(event["result"], 0);

        RunQzsim({"create", Board(2), "--seed", "7"});  // a chip with other firmware
        const ToolRun read = RunOn(station, {option, "--all", "-R", "out.bin"});
        EXPECT_EQ(read.status, 0) << read.out;
        EXPECT_EQ(ReadFile(Path("out-0.bin")), BoardFlash(1));
        EXPECT_EQ(ReadFile(Path("out-1.bin")), BoardFlash(2));
        EXPECT_NE(BoardFlash(1), BoardFlash(2));
        EXPECT_FALSE(std::filesystem::exists(Path("out.bin")));
        std::filesystem::remove_all(station);
    }
}

// A worker killed in the middle of its run: its board fails with
// worker_lost (and a log line the gang writes for it); the others finish.
TEST_F(GangE2eTest, AWorkerKilledMidRunFailsItsBoardAlone)
{
    const std::string station = Station("usb", 3);
    RunQzsim({"facts", Board(2), "kill_at", "60"});
    const ToolRun run = RunOn(station, {"-S0x1234", "--all", "--log", Path("station.log"), "-X", "0x4321"});
    EXPECT_EQ(run.status, 121) << run.out;
    EXPECT_TRUE(std::regex_search(run.out, std::regex("\n1 +- +worker killed by signal 9 +-370 +-\n"))) << run.out;
    EXPECT_NE(run.out.find("2 of 3 boards passed; the result is board 1's\n"), std::string::npos) << run.out;
    const std::vector<nlohmann::json> log = LogLines(Path("station.log"));
    ASSERT_EQ(log.size(), 3u);
    size_t lost = 0;
    for (const nlohmann::json &line : log)
        if (line["error"] == "worker_lost") {
            ++lost;
            EXPECT_EQ(line["gang_place"], 2);
            EXPECT_EQ(line["device"]["index"], 1);
        }
    EXPECT_EQ(lost, 1u);
}

// A station's per-transfer delay is real time: a run waits on its link.
TEST_F(GangE2eTest, EveryTransferWaitsTheStationsDelay)
{
    for (const auto &[link, option] : {std::pair<std::string, std::string>{"usb", "-S0x1234"}, {"iic", "-C"}, {"ft232h", "-F"}}) {
        const std::string station = Path("station");
        RunQzsim({"station", station, "--link", link, "--boards", "1", "--delay-us", "10000"});
        const auto start = std::chrono::steady_clock::now();
        const ToolRun run = RunQzupgrade({option, "-V"}, {.chip_dir = station, .real_clock = true});
        EXPECT_EQ(run.status, 105) << run.out;  // -V ends as a parameter error after the version line
        EXPECT_NE(run.out.find("Running FW V1.1.3"), std::string::npos) << run.out;
        // The transfers the board's chip counted (over the FT232H at least the open's seven).
        const Bytes state_file = ReadFile(station + "/board1/state.txt");
        const std::string state(state_file.begin(), state_file.end());
        std::smatch counted;
        const bool found = std::regex_search(state, counted, std::regex(link == "usb" ? "usb_transfers ([0-9]+)" : "iic_transfers ([0-9]+)"));
        const int transfers = link == "ft232h" ? 7 : found ? std::stoi(counted[1]) : 0;
        EXPECT_GT(transfers, 0) << state;
        EXPECT_GE(std::chrono::steady_clock::now() - start, transfers * std::chrono::milliseconds(10)) << link;
        std::filesystem::remove_all(station);
    }
}

}  // namespace
