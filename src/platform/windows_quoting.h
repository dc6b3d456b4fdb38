#pragma once
#include <string>
#include <string_view>
#include <vector>

namespace qz {

// One argument as it must stand on a Windows command line for the C runtime
// (and CommandLineToArgvW) to read it back unchanged: quoted when it is
// empty or holds a blank or a quote, a quote escaped with a backslash, and
// backslashes doubled where they come before a quote. UTF-8 passes through.
std::string QuoteWindowsArgument(std::string_view arg);

// The command line that starts args[0] (a path, which cannot hold a quote;
// the runtime reads the program's name without escapes) with args[1..].
std::string WindowsCommandLine(const std::vector<std::string> &args);

}  // namespace qz
