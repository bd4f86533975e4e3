// The folder browser's paths: where it starts, what its status line shows
// for the selected folder, and the directory text it hands back (with its
// backslash, as the server joins directories and file names as they stand).
#pragma once

#include <string>
#include <string_view>

// The folder to preselect: a trailing backslash is dropped, except from a
// drive root such as C:\ (three characters or fewer).
std::string folder_to_preselect(std::string_view path);

// The status line for `path`: up to 48 characters as it stands, a longer
// path as "..." and its last 45 characters.
std::string folder_status_text(std::string_view path);

// A directory text: a non-empty path gets a trailing backslash when it has
// none.
std::string folder_with_separator(std::string_view path);
