#include "platform/files.h"
#include "platform/win32/win_handle.h"

#include <array>
#include <cctype>
#include <fcntl.h>
#include <io.h>
#include <utility>
#include <string>
#include <windows.h>

namespace platform {
namespace {

bool iequal(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) !=
            std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

// The normalised full path of an open handle ("\\?\C:\...").
std::string final_path(HANDLE h) {
    char buffer[MAX_PATH * 4];
    DWORD n = GetFinalPathNameByHandleA(h, buffer, sizeof buffer, FILE_NAME_NORMALIZED);
    return n > 0 && n < sizeof buffer ? std::string(buffer, n) : std::string();
}

std::string final_path_of_directory(const std::string& dir) {
    Handle h(CreateFileA(dir.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                         nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    return h.valid() ? final_path(h.get()) : std::string();
}

bool is_within(std::string path, std::string base) {
    if (path.empty() || base.empty()) return false;
    if (base.back() != '\\') base += '\\';
    path += '\\';
    return path.size() >= base.size() &&
           iequal(std::string_view(path).substr(0, base.size()), base);
}

// Wraps a handle in a C stream.
std::FILE* stream_of(Handle& h, int flags, const char* mode) {
    int fd = _open_osfhandle(reinterpret_cast<intptr_t>(h.get()), flags | _O_BINARY);
    if (fd < 0) return nullptr;
    h.release();
    std::FILE* file = _fdopen(fd, mode);
    if (!file) _close(fd);
    return file;
}

bool is_plain_disk_file(HANDLE h) {
    BY_HANDLE_FILE_INFORMATION info{};
    if (GetFileType(h) != FILE_TYPE_DISK || !GetFileInformationByHandle(h, &info)) return false;
    return (info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) == 0;
}

// The file an upload writes, opened without changing it yet.
struct UploadTarget {
    UploadOpen outcome = UploadOpen::kFailed;
    Handle handle;
    bool created = false;
};

// Opens the existing file as it is (a link or junction as itself), or
// creates a new one. Nothing is ever created through a link: a name that
// cannot be opened yet cannot be created either names a link to nothing.
// Tried twice, for a file that another program creates meanwhile.
UploadTarget open_upload_target(const std::string& path) {
    constexpr DWORD kShare = FILE_SHARE_READ | FILE_SHARE_WRITE;
    constexpr DWORD kFlags = FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT;
    UploadTarget target;
    for (int attempt = 0; attempt < 2; ++attempt) {
        target.handle.reset(CreateFileA(path.c_str(), GENERIC_WRITE, kShare, nullptr, OPEN_EXISTING,
                                        kFlags, nullptr));
        if (target.handle.valid()) break;
        if (GetLastError() != ERROR_FILE_NOT_FOUND) return target;
        // A new file may be removed again when it turns out to lie outside.
        target.handle.reset(CreateFileA(path.c_str(), GENERIC_WRITE | DELETE, kShare, nullptr,
                                        CREATE_NEW, kFlags, nullptr));
        target.created = target.handle.valid();
        if (target.created) break;
        DWORD error = GetLastError();
        if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) return target;
    }
    bool plain = target.handle.valid() && is_plain_disk_file(target.handle.get());
    target.outcome = plain ? UploadOpen::kOpened : UploadOpen::kNotRegular;
    return target;
}

// Removes a file this upload has just created, by its handle.
void discard_created(HANDLE h) {
    FILE_DISPOSITION_INFO disposition{TRUE};
    SetFileInformationByHandle(h, FileDispositionInfo, &disposition, sizeof disposition);
}

bool truncate(HANDLE h) {
    return SetFilePointer(h, 0, nullptr, FILE_BEGIN) != INVALID_SET_FILE_POINTER && SetEndOfFile(h);
}

}  // namespace

std::string local_path(std::string_view enginePath) { return std::string(enginePath); }

FileKind file_kind(std::string_view enginePath) {
    DWORD attributes = GetFileAttributesA(std::string(enginePath).c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return FileKind::kMissing;
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) return FileKind::kDirectory;
    if (attributes & FILE_ATTRIBUTE_DEVICE) return FileKind::kOther;
    return FileKind::kRegular;
}

std::FILE* open_for_reading(std::string_view enginePath) {
    Handle h(CreateFileA(std::string(enginePath).c_str(), GENERIC_READ,
                         FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                         FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!h.valid() || GetFileType(h.get()) != FILE_TYPE_DISK) return nullptr;
    return stream_of(h, _O_RDONLY, "rb");
}

std::optional<uint64_t> file_size(std::FILE* file) {
    LARGE_INTEGER size{};
    HANDLE h = file ? reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file))) : nullptr;
    if (!h || h == INVALID_HANDLE_VALUE || !GetFileSizeEx(h, &size)) return std::nullopt;
    return static_cast<uint64_t>(size.QuadPart);
}

// Conversely to POSIX's fseeko, fseek takes a 32-bit long here.
bool seek_file(std::FILE* file, uint64_t offset) {
    return _fseeki64(file, static_cast<__int64>(offset), SEEK_SET) == 0;
}

UploadOpen open_for_upload(std::string_view enginePath,
                           std::string_view baseDir,
                           std::FILE** file) {
    std::string path(enginePath);
    if (file_kind(path) == FileKind::kDirectory) return UploadOpen::kNotRegular;
    std::string::size_type slash = path.rfind('\\');
    std::string dir = slash == std::string::npos ? "." : path.substr(0, slash + 1);
    // Compared as the file system resolves them, so that no junction or
    // link on the way leads outside the base.
    std::string base = final_path_of_directory(std::string(baseDir));
    if (!is_within(final_path_of_directory(dir), base)) return UploadOpen::kOutsideBase;
    UploadTarget target = open_upload_target(path);
    if (target.outcome != UploadOpen::kOpened) return target.outcome;
    // Wine shows a Unix link to a file as the file itself: where the opened
    // file really is tells.
    if (!is_within(final_path(target.handle.get()), base)) {
        if (target.created) discard_created(target.handle.get());
        return UploadOpen::kOutsideBase;
    }
    if (!truncate(target.handle.get())) return UploadOpen::kFailed;
    *file = stream_of(target.handle, _O_WRONLY, "wb");
    return *file ? UploadOpen::kOpened : UploadOpen::kFailed;
}

bool is_device_name(std::string_view component) {
    // The file system ignores an extension and trailing blanks after a
    // device name: "nul.txt " is NUL too.
    std::string_view base = component.substr(0, component.find('.'));
    while (!base.empty() && base.back() == ' ') base.remove_suffix(1);
    static constexpr std::array<std::string_view, 6> kNames = {"CON", "PRN",    "AUX",
                                                               "NUL", "CONIN$", "CONOUT$"};
    for (std::string_view name : kNames)
        if (iequal(base, name)) return true;
    bool numbered =
        base.size() == 4 && (iequal(base.substr(0, 3), "COM") || iequal(base.substr(0, 3), "LPT"));
    return numbered && base[3] >= '1' && base[3] <= '9';
}

bool same_file_name(std::string_view a, std::string_view b) { return iequal(a, b); }

std::optional<std::string> prefix_request_form(std::string_view entry) {
    if (entry.size() <= 2 || entry[1] != ':' || entry[2] != '\\') return std::nullopt;
    std::string form = "\\";
    form += entry[0];
    form += entry.substr(2);
    return form;
}

bool prefix_matches(std::string_view form, std::string_view name) {
    return name.size() >= form.size() && name[0] == form[0] && name[1] == form[1] &&
           iequal(name.substr(2, form.size() - 2), form.substr(2));
}

}  // namespace platform
