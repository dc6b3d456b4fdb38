// What a board's worker prints, as the gang's process reads it: any bytes in
// any pieces (the first byte of the input chooses JSON and the piece size).
// Besides surviving every input:
//   - every line that goes out is whole and names its board: "[B7] ..." in
//     text, a JSON event with "board":"B7" right after its schema in JSON;
//   - the pieces make no difference: the same bytes in one piece give the
//     same output and the same report.
#include <mutex>
#include <string>

#include "app/gang_output.h"
#include "fuzz_target.h"

namespace qz {
namespace {

struct Read { std::string out; BoardReport report; };

Read ReadInPieces(std::string_view bytes, bool json, size_t piece)
{
    StringSink sink;
    std::mutex lock;
    BoardOutput board("B7", json, sink, lock);
    for (size_t at = 0; at < bytes.size(); at += piece)
        board.Take(bytes.substr(at, piece));
    board.Finish();
    return {sink.text, board.report()};
}

}  // namespace

void FuzzOne(std::span<const uint8_t> input)
{
    if (input.empty())
        return;
    const bool json = (input[0] & 1) != 0;
    const size_t piece = 1 + (input[0] >> 1);
    const std::string_view bytes(reinterpret_cast<const char *>(input.data()) + 1, input.size() - 1);
    const Read pieces = ReadInPieces(bytes, json, piece);
    const Read whole = ReadInPieces(bytes, json, bytes.size() + 1);
    Require(pieces.out == whole.out, "the pieces change the output");
    Require(pieces.report.result == whole.report.result && pieces.report.last_line == whole.report.last_line &&
                pieces.report.chip_version == whole.report.chip_version,
            "the pieces change the report");
    const std::string start = json ? "{\"schema\":" : "[B7] ";
    for (size_t at = 0; at < pieces.out.size();) {
        const size_t end = pieces.out.find('\n', at);
        Require(end != std::string::npos, "a line goes out without its end");
        const std::string_view line(pieces.out.data() + at, end - at);
        Require(line.starts_with(start), "a line goes out without its board");
        if (json)
            Require(line.find(",\"board\":\"B7\",") != std::string_view::npos, "an event goes out without its board");
        at = end + 1;
    }
    (void)BoardResult(pieces.report);
}

}  // namespace qz
