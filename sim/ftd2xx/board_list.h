// The FT232H boards of a chip folder as a stand-in library finds them: the
// folder QZSIM_CHIP names, its ftdi.txt, and who holds each board.
#pragma once
#include <cstdint>
#include <string>

#include "ftdi_facts.h"

namespace qzsim {

// Loads ftdi.txt of the folder QZSIM_CHIP names, with the capture and VCD
// files of the environment in place of the file's. On failure writes why to
// stderr, prefixed with the library's name, and returns false.
bool LoadBoardList(const char *library, std::string *folder, FtdiFacts *facts);

// The lock file that a process opening the board holds.
std::string BoardLockPath(const std::string &folder, uint32_t location);

// True when another program has the board: "open" in ftdi.txt, or its lock
// taken by any process (this one included).
bool BoardHeld(const std::string &folder, const BoardFact &board);

void Complain(const char *library, const std::string &what);

}  // namespace qzsim
