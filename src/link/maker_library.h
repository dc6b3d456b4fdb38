#pragma once
#include <memory>

#include "core/console.h"
#include "platform/library.h"

namespace qz {

// Loads one of the chip maker's libraries into library and looks up its entry
// points (look_up returns whether every required one is there), printing the
// line a user sees where either fails. The library stays held either way,
// for the link's Close to release.
template <typename LookUp>
bool LoadMakerLibrary(std::unique_ptr<SharedLibrary> &library, const char *name, Console &console, LookUp look_up)
{
    library = std::make_unique<SharedLibrary>(name);
    if (!library->loaded()) {
        console.Print("Can't load %s\n", name);
        return false;
    }
    if (!look_up()) {
        console.Print("APIs are missing in %s\n", name);
        return false;
    }
    return true;
}

}  // namespace qz
