// The settings store kept in a REGEDIT4 text file, shared by the POSIX
// backend and the portable mode of the Windows one. store_posix.cpp and
// store_win.cpp route the functions of platform/store.h here.
#pragma once

#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/file_ops.h"
#include "platform/reg_file.h"
#include "platform/store.h"

namespace platform {

// Thread-safe. Several processes may use the same file: every change is
// made under an advisory lock on "<path>.lock", on the file as it is at that
// moment, and lands as an atomic replacement.
//
// A missing (or empty) file is an empty store that the first write creates.
// A file that cannot be read or is not a registry file reads as empty and is
// never written, so that a damaged file stays as the administrator left it.
class FileStore {
  public:
    explicit FileStore(std::string path);

    [[nodiscard]] bool read(const char* section, const char* name, std::string* text);
    // The string values of a section; false when the section is missing.
    [[nodiscard]] bool list(const char* section, std::vector<StoreValue>* values);
    [[nodiscard]] bool write(const char* section, const char* name, const char* text);
    // False when the section or the value is missing, as RegDeleteValue.
    [[nodiscard]] bool erase(const char* section, const char* name);

    const std::string& path() const { return path_; }

  private:
    enum class Load { kFile, kMissing, kCorrupt };
    enum class Outcome { kChanged, kUnchanged, kRefused };

    Load load_fresh(RegFile* file, FileIdentity* identity) const;
    const RegFile& current_file();

    template <typename Apply>
    bool change(Apply&& apply);
    bool commit();

    const std::string path_;

    // Readers of this process hold cache_mutex_ while they have the file
    // open; a commit holds it too, as Windows cannot replace an open file.
    // The turnstile keeps a stream of readers from starving a commit: readers
    // pass it on their way in, a commit holds it until it has the cache.
    std::mutex turnstile_;
    std::mutex cache_mutex_;  // guards the cache
    std::optional<RegFile> cache_;
    FileIdentity cache_identity_;
    bool cache_reusable_ = false;

    std::mutex write_mutex_;  // one change at a time within this process
};

}  // namespace platform
