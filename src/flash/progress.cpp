#include "flash/progress.h"

#include <cstdio>

void ShowProgress(const char *label, size_t offset)
{
    std::printf("\r%s%04X", label, static_cast<unsigned>(offset));
    std::fflush(stdout);
}

void ShowText(const char *text)
{
    std::fputs(text, stdout);
    std::fflush(stdout);
}

void ShowDone() { ShowText("  done!\n"); }
