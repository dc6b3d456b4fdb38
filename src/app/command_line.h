#pragma once

// The -D value must begin with this code to switch the diagnostic dumps on.
inline constexpr char kDumpAccessCode[] = "QZDBG";
inline constexpr int kDumpAccessCodeLength = 5;

// The whole run: banner, configuration options, then the one command.
// Returns the run's int result (see the README for its meanings).
int RunTool(int argc, char **argv);

// Reads the number of the option at index (value in the same argument or the
// next). Returns the index of the last argument consumed and stores the
// value, or prints "Error parameter" and returns ERR_PARAMETER.
int ParseNumberOption(int index, int argc, char **argv, int *value);

// -X<SVID1>[,SVID2]: stores target_svid1/2 and prints the target line.
// Returns the index of the last argument consumed or ERR_PARAMETER.
int ParseSvidList(int index, int argc, char **argv);

// The value text of the option at *index: the rest of its own argument, or
// else the whole next argument (then *index advances). nullptr when missing.
const char *OptionValueText(int *index, int argc, char **argv);

void PrintBanner();
void PrintUsage(const char *program);
