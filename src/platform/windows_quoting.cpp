#include "platform/windows_quoting.h"

namespace qz {

std::string QuoteWindowsArgument(std::string_view arg)
{
    if (!arg.empty() && arg.find_first_of(" \t\n\v\"") == std::string_view::npos)
        return std::string(arg);
    std::string quoted = "\"";
    size_t backslashes = 0;
    for (const char c : arg) {
        if (c == '\\') {
            ++backslashes;
            continue;
        }
        // Backslashes are literal unless a quote follows them.
        quoted.append(c == '"' ? 2 * backslashes + 1 : backslashes, '\\');
        quoted += c;
        backslashes = 0;
    }
    // The closing quote follows: the backslashes before it are doubled too.
    quoted.append(2 * backslashes, '\\');
    return quoted + '"';
}

std::string WindowsCommandLine(const std::vector<std::string> &args)
{
    if (args.empty())
        return {};
    std::string line = '"' + args[0] + '"';
    for (size_t i = 1; i < args.size(); ++i)
        line.append(" ").append(QuoteWindowsArgument(args[i]));
    return line;
}

}  // namespace qz
