#pragma once
#include <string>

namespace qz {

// A shared library loaded at run time, unloaded when the object goes. The
// executable's own folder is searched first, then the system's search path.
// With an alternative name each folder is searched for both names before
// the next folder: the copy the user put beside the tool wins over a copy
// under the other name in a system folder.
class SharedLibrary {
public:
    explicit SharedLibrary(const char *file_name, const char *alternative = nullptr);
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

    // Which of the two names was loaded, or found first and would not load;
    // nullptr when neither was found.
    const char *file_name() const { return file_name_; }
    // The file loaded, or the first one found that would not load (empty
    // when none was found), and the system's reason why it would not load.
    const std::string &path() const { return path_; }
    const std::string &error() const { return error_; }
    // Why the file found would not load where a user cannot guess it from
    // the name (a DLL built for another processor, one whose own DLLs are
    // missing); empty otherwise.
    const std::string &cause() const { return cause_; }

private:
    void *handle_ = nullptr;
    const char *file_name_ = nullptr;
    std::string path_;
    std::string error_;
    std::string cause_;
};

}  // namespace qz
