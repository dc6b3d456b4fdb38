#pragma once
#include <cstring>
#include <memory>
#include <string>

#include "core/console.h"
#include "platform/library.h"

namespace qz {

// The line a user sees for a library that loaded without the entry points
// the link calls, or for each name of one that would not load, with the
// cause added where the file found would not load for a reason the user
// cannot guess (see SharedLibrary::cause).
inline void PrintLibraryFailure(Console &console, const SharedLibrary &library, const char *name,
                                const char *alternative = nullptr)
{
    if (library.loaded()) {
        console.Print("APIs are missing in %s\n", library.file_name());
        return;
    }
    for (const char *each : {name, alternative}) {
        if (!each)
            continue;
        const bool with_cause =
            library.file_name() && std::strcmp(library.file_name(), each) == 0 && !library.cause().empty();
        console.Print("Can't load %s%s%s\n", each, with_cause ? ": " : "", with_cause ? library.cause().c_str() : "");
    }
}

// Why the library did not load, or lacks the entry points, as the system's
// loader tells it: the reason -v shows.
inline std::string LibraryFailureReason(const SharedLibrary &library, const char *name)
{
    if (library.loaded())
        return std::string("entry points missing in ") + (library.path().empty() ? name : library.path().c_str());
    return std::string("loading ") + name + ": " + (library.error().empty() ? "not found" : library.error());
}

// Loads one of the chip maker's libraries into library and looks up its entry
// points (look_up returns whether every required one is there), printing the
// line a user sees where either fails. The library stays held either way,
// for the link's Close to release; reason gets the reason where it fails.
template <typename LookUp>
bool LoadMakerLibrary(std::unique_ptr<SharedLibrary> &library, const char *name, Console &console,
                      std::string &reason, LookUp look_up)
{
    library = std::make_unique<SharedLibrary>(name);
    const bool loaded = library->loaded();
    if (loaded && look_up())
        return true;
    PrintLibraryFailure(console, *library, name);
    reason = LibraryFailureReason(*library, name);
    return false;
}

}  // namespace qz
