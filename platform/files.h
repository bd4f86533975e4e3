// Files as the engine names them. Engine paths use "\" as their separator on
// every target; these functions turn them into the file system's own form
// where they reach it, and hold the few rules that differ by OS: devices,
// links, name comparison and the form of a prefix entry.
#pragma once

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>

namespace platform {

// The file system's form of an engine path ("\" becomes "/" off Windows).
std::string local_path(std::string_view enginePath);

enum class FileKind { kMissing, kRegular, kDirectory, kOther };

// What the path names, following links.
FileKind file_kind(std::string_view enginePath);

// Opens an existing regular file for reading in binary mode. Never blocks on
// a FIFO or device; null when the path is missing or not a regular file.
std::FILE* open_for_reading(std::string_view enginePath);

// The size of an open file, or nothing when it cannot be told.
std::optional<uint64_t> file_size(std::FILE* file);

// Moves a stream to a byte offset that may lie past 2 GB; false on failure.
[[nodiscard]] bool seek_file(std::FILE* file, uint64_t offset);

enum class UploadOpen { kOpened, kNotRegular, kOutsideBase, kFailed };

// Creates or truncates a regular file for writing in binary mode. Refuses a
// final name that is a link or not a regular file (kNotRegular), and a
// directory on the way that leads outside `baseDir` (kOutsideBase), so that
// an upload never creates or changes anything outside its base directory.
UploadOpen open_for_upload(std::string_view enginePath, std::string_view baseDir, std::FILE** file);

// Whether a path component names a device that the file system would open
// instead of a file (CON, NUL, COM1... on Windows; nothing elsewhere).
bool is_device_name(std::string_view component);

// File names compare without regard to case on Windows, with regard to case
// elsewhere.
bool same_file_name(std::string_view a, std::string_view b);

// A prefix entry of the "Prefix" setting as a request names it: "D:\images"
// becomes "\D\images" on Windows; "/srv/images" becomes "\srv\images"
// elsewhere. Nothing for an entry that is not an absolute directory.
std::optional<std::string> prefix_request_form(std::string_view entry);

// Whether `name` lies under the prefix entry whose request form is `form`
// (the drive letter compares exactly, the rest as file names compare).
bool prefix_matches(std::string_view form, std::string_view name);

}  // namespace platform
