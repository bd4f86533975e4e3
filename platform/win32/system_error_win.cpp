#include "platform/system_error.h"

#include <memory>

#include <windows.h>

namespace platform {
namespace {

struct LocalFreer {
    void operator()(char* text) const { LocalFree(text); }
};

}  // namespace

uint32_t last_error() { return GetLastError(); }

std::string system_message(uint32_t code) {
    char* text = nullptr;
    // Inserts are ignored: the texts of some codes hold "%1", and there are no
    // arguments to put there.
    DWORD length = FormatMessageA(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, code, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), reinterpret_cast<char*>(&text), 0,
        nullptr);
    std::unique_ptr<char, LocalFreer> owned(text);
    return length && text ? std::string(text, length) : std::string();
}

}  // namespace platform
