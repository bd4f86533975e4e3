// A search of one directory for the files that match a pattern, as the log
// viewer lists the transfer-log files. Each match comes as the Windows
// find-data record (LogFindData), which Windows fills itself and POSIX fills
// from the file's status.
#pragma once

#include <memory>

#include "pipeclient/records.h"

namespace platform {

class DirSearch {
  public:
    struct Impl;
    DirSearch();
    ~DirSearch();  // ends the search
    DirSearch(const DirSearch&) = delete;
    DirSearch& operator=(const DirSearch&) = delete;

    // Starts a search for `pattern`: a directory path (with its separator)
    // followed by a file-name pattern with "*" and "?". False when nothing
    // matches or the directory cannot be read; the search is then closed.
    [[nodiscard]] bool first(const char* pattern, LogFindData* found);
    // The next match; false at the end.
    [[nodiscard]] bool next(LogFindData* found);
    // Ends the search; false when it was not open or could not be closed.
    bool close();

  private:
    std::unique_ptr<Impl> impl_;
};

}  // namespace platform
