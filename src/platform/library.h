#pragma once

namespace qz {

// A shared library loaded at run time, unloaded when the object goes. The
// executable's own folder is searched first, then the system's search path.
class SharedLibrary {
public:
    explicit SharedLibrary(const char *file_name);
    ~SharedLibrary();
    SharedLibrary(const SharedLibrary &) = delete;
    SharedLibrary &operator=(const SharedLibrary &) = delete;

    bool loaded() const { return handle_ != nullptr; }
    // nullptr when the library lacks the entry point (or is not loaded).
    void *EntryPoint(const char *name) const;

    template <typename Fn>
    void LookUp(Fn &slot, const char *name) const
    {
        slot = reinterpret_cast<Fn>(EntryPoint(name));
    }

private:
    void *handle_ = nullptr;
};

}  // namespace qz
