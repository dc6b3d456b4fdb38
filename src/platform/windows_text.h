#pragma once
#include <string>

// Windows only: the tool's UTF-8 text at the UTF-16 calls, and the system's
// words for an error code.
namespace qz {

std::wstring Widen(const std::string &utf8);
std::string Narrow(const std::wstring &wide);
// "error 2: The system cannot find the file specified."
std::string SystemErrorText(unsigned long error);

}  // namespace qz
