#pragma once
#include <string>

#include "platform/library.h"

namespace qz {

// Looks up a library's entry points as a table: each row a name, the slot it
// fills and whether the link cannot work without it. Every row is looked up
// before any is judged, so a partial library leaves no slot stale.
//
//     const bool complete = EntryPoints(library)
//         .Required(api.open, "Open")
//         .Optional(api.describe, "Describe")
//         .complete();
class EntryPoints {
public:
    explicit EntryPoints(const SharedLibrary &library) : library_(library) {}

    template <typename Fn>
    EntryPoints &Required(Fn &slot, const char *name)
    {
        library_.LookUp(slot, name);
        if (!slot)
            missing_ += missing_.empty() ? name : std::string(", ") + name;
        return *this;
    }
    template <typename Fn>
    EntryPoints &Optional(Fn &slot, const char *name)
    {
        library_.LookUp(slot, name);
        return *this;
    }
    // The first name the library has; slot stays null when it has neither.
    template <typename Fn>
    EntryPoints &RequiredEither(Fn &slot, const char *name, const char *older_name)
    {
        library_.LookUp(slot, name);
        if (!slot)
            Required(slot, older_name);
        return *this;
    }

    [[nodiscard]] bool complete() const { return missing_.empty(); }
    // The required names the library lacks, comma-separated.
    const std::string &missing() const { return missing_; }

private:
    const SharedLibrary &library_;
    std::string missing_;
};

}  // namespace qz
