// The settings store on Windows: the registry under HKEY_LOCAL_MACHINE, or
// the REGEDIT4 file named by PRAVLEN_STORE (a portable mode, used by the
// integration tests).
#include "platform/store.h"

#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <vector>

#include <windows.h>

#include "platform/file_store.h"
#include "platform/reg_file.h"

namespace platform {
namespace {

constexpr const char* kProductKey = "Software\\Velquin\\Pravlen";

class RegKey {
  public:
    RegKey() = default;
    ~RegKey() {
        if (key_) RegCloseKey(key_);
    }
    RegKey(const RegKey&) = delete;
    RegKey& operator=(const RegKey&) = delete;

    HKEY get() const { return key_; }
    PHKEY out() { return &key_; }

  private:
    HKEY key_ = nullptr;
};

// Exactly one of the two is in use.
struct Backend {
    std::shared_ptr<FileStore> file;
    std::string registry_key;  // under HKEY_LOCAL_MACHINE
};

std::mutex g_mutex;  // guards g_backend; the backends themselves are thread-safe
Backend g_backend;

Backend current() {
    std::lock_guard lock(g_mutex);
    return g_backend;
}

void use(Backend backend) {
    std::lock_guard lock(g_mutex);
    g_backend = std::move(backend);
}

// Queries a string value into `text`. The size is asked first; a value that
// grows between the two calls is asked again.
bool query_string(HKEY key, const char* name, std::string* text) {
    std::vector<char> buffer;
    for (;;) {
        DWORD type = 0;
        DWORD size = 0;
        if (RegQueryValueExA(key, name, nullptr, &type, nullptr, &size) != ERROR_SUCCESS)
            return false;
        if (type != REG_SZ && type != REG_EXPAND_SZ) return false;
        buffer.assign(static_cast<std::size_t>(size) + 1, '\0');
        LONG rc = RegQueryValueExA(key, name, nullptr, &type,
                                   reinterpret_cast<BYTE*>(buffer.data()), &size);
        if (rc == ERROR_MORE_DATA) continue;
        if (rc != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ)) return false;
        // A value stored without its NUL still ends here: the buffer has one
        // spare byte. Text after an embedded NUL is not part of the string.
        text->assign(buffer.data(), strnlen(buffer.data(), size));
        return true;
    }
}

bool registry_read(const std::string& subkey, const char* name, std::string* text) {
    RegKey key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, subkey.c_str(), 0, KEY_READ, key.out()) !=
        ERROR_SUCCESS) {
        return false;
    }
    return query_string(key.get(), name, text);
}

bool registry_write(const std::string& subkey, const char* name, const char* text) {
    RegKey key;
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, subkey.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                        KEY_ALL_ACCESS, nullptr, key.out(), nullptr) != ERROR_SUCCESS) {
        return false;
    }
    DWORD size = static_cast<DWORD>(std::strlen(text) + 1);  // the NUL is stored too
    return RegSetValueExA(key.get(), name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text), size) ==
           ERROR_SUCCESS;
}

bool registry_delete(const std::string& subkey, const char* name) {
    RegKey key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, subkey.c_str(), 0, KEY_ALL_ACCESS, key.out()) !=
        ERROR_SUCCESS) {
        return false;
    }
    return RegDeleteValueA(key.get(), name) == ERROR_SUCCESS;
}

// The string values of a key, by index as the registry enumerates them. The
// sizes are asked once; a value that grows meanwhile is read on its own.
bool registry_list(const std::string& subkey, std::vector<StoreValue>* values) {
    RegKey key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, subkey.c_str(), 0, KEY_READ, key.out()) !=
        ERROR_SUCCESS) {
        return false;
    }
    DWORD count = 0, longestName = 0;
    if (RegQueryInfoKeyA(key.get(), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &count,
                         &longestName, nullptr, nullptr, nullptr) != ERROR_SUCCESS) {
        return false;
    }
    std::vector<char> name(static_cast<std::size_t>(longestName) + 1);
    for (DWORD index = 0; index < count; ++index) {
        DWORD size = static_cast<DWORD>(name.size());
        DWORD type = 0;
        if (RegEnumValueA(key.get(), index, name.data(), &size, nullptr, &type, nullptr, nullptr) !=
            ERROR_SUCCESS) {
            continue;
        }
        std::string text;
        if ((type == REG_SZ || type == REG_EXPAND_SZ) &&
            query_string(key.get(), name.data(), &text)) {
            values->push_back(StoreValue{std::string(name.data(), size), std::move(text)});
        }
    }
    return true;
}

}  // namespace

void store_init(const char*) {
    if (const char* path = std::getenv("PRAVLEN_STORE"); path && *path) {
        store_use_file(path);
        return;
    }
    const char* key = std::getenv("PRAVLEN_KEY");
    (void)store_use_registry(key && *key ? key : kProductKey);
}

// An empty path names no file: the store then refuses everything.
void store_use_file(const std::string& path) {
    use(Backend{path.empty() ? nullptr : std::make_shared<FileStore>(path), {}});
}

bool store_use_registry(const std::string& key) {
    if (key.empty()) return false;
    use(Backend{nullptr, key});
    return true;
}

bool store_read(const char* section, const char* name, std::string* text) {
    if (!section || !name || !text) return false;
    Backend backend = current();
    if (backend.file) return backend.file->read(section, name, text);
    if (backend.registry_key.empty()) return false;
    return registry_read(section_key(backend.registry_key, section), name, text);
}

bool store_write(const char* section, const char* name, const char* text) {
    if (!section || !name || !text) return false;
    Backend backend = current();
    if (backend.file) return backend.file->write(section, name, text);
    if (backend.registry_key.empty()) return false;
    return registry_write(section_key(backend.registry_key, section), name, text);
}

bool store_delete(const char* section, const char* name) {
    if (!section || !name) return false;
    Backend backend = current();
    if (backend.file) return backend.file->erase(section, name);
    if (backend.registry_key.empty()) return false;
    return registry_delete(section_key(backend.registry_key, section), name);
}

bool store_list(const char* section, std::vector<StoreValue>* values) {
    if (!values) return false;
    values->clear();
    if (!section) return false;
    Backend backend = current();
    if (backend.file) return backend.file->list(section, values);
    if (backend.registry_key.empty()) return false;
    return registry_list(section_key(backend.registry_key, section), values);
}

std::string store_location() {
    Backend backend = current();
    if (backend.file) return backend.file->path();
    if (backend.registry_key.empty()) return {};
    return "HKEY_LOCAL_MACHINE\\" + backend.registry_key;
}

}  // namespace platform
