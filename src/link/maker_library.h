#pragma once
#include <memory>

#include "core/console.h"
#include "platform/library.h"

namespace qz {

// The line a user sees for a library that would not load, or that loaded
// without the entry points the link calls.
inline void PrintLibraryFailure(Console &console, bool loaded, const char *name)
{
    console.Print(loaded ? "APIs are missing in %s\n" : "Can't load %s\n", name);
}

// Loads one of the chip maker's libraries into library and looks up its entry
// points (look_up returns whether every required one is there), printing the
// line a user sees where either fails. The library stays held either way,
// for the link's Close to release.
template <typename LookUp>
bool LoadMakerLibrary(std::unique_ptr<SharedLibrary> &library, const char *name, Console &console, LookUp look_up)
{
    library = std::make_unique<SharedLibrary>(name);
    const bool loaded = library->loaded();
    if (loaded && look_up())
        return true;
    PrintLibraryFailure(console, loaded, name);
    return false;
}

}  // namespace qz
