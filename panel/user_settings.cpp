#include "panel/user_settings.h"

#include <windows.h>

#include "panel/owned_handle.h"
#include "panel/placement.h"

namespace {

constexpr char kUserKey[] = "Software\\Velquin\\Pravlen";

bool open_user_key(REGSAM access, OwnedKey* key) {
    return RegOpenKeyExA(HKEY_CURRENT_USER, user_key_path().c_str(), 0, access, key->out()) ==
           ERROR_SUCCESS;
}

}  // namespace

std::string user_key_path() {
    char path[256];
    DWORD n = GetEnvironmentVariableA("PRAVLEN_USER_KEY", path, sizeof path);
    if (n > 0 && n < sizeof path) return path;
    return kUserKey;
}

int read_user_setting(const char* name, int fallback) {
    char text[64];
    if (!read_user_text(name, text, sizeof text)) return fallback;
    return parse_user_int(text, fallback);
}

bool read_user_text(const char* name, char* buffer, std::size_t size) {
    if (size == 0) return false;
    buffer[0] = '\0';
    OwnedKey key;
    if (!open_user_key(KEY_READ, &key)) return false;
    // One byte is kept back so that a value stored without its NUL still
    // ends inside the buffer.
    DWORD type = 0;
    DWORD bytes = static_cast<DWORD>(size - 1);
    if (RegQueryValueExA(key.get(), name, nullptr, &type, reinterpret_cast<BYTE*>(buffer),
                         &bytes) != ERROR_SUCCESS ||
        type != REG_SZ) {
        buffer[0] = '\0';
        return false;
    }
    buffer[bytes < size ? bytes : size - 1] = '\0';
    return true;
}

bool write_user_text(const char* name, const char* text, bool withNul) {
    OwnedKey key;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, user_key_path().c_str(), 0, nullptr,
                        REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr, key.out(),
                        nullptr) != ERROR_SUCCESS) {
        return false;
    }
    DWORD bytes = static_cast<DWORD>(lstrlenA(text) + (withNul ? 1 : 0));
    return RegSetValueExA(key.get(), name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text), bytes) ==
           ERROR_SUCCESS;
}

bool delete_user_value(const char* name) {
    OwnedKey key;
    return open_user_key(KEY_ALL_ACCESS, &key) && RegDeleteValueA(key.get(), name) == ERROR_SUCCESS;
}

void store_placement_value(const char* name, int value) {
    if (auto text = placement_text(value))
        write_user_text(name, text->c_str(), false);
    else
        delete_user_value(name);
}
