// The settings store off Windows: always the REGEDIT4 file.
#include "platform/store.h"

#include <cstdlib>
#include <memory>
#include <mutex>

#include "platform/file_store.h"

namespace platform {
namespace {

constexpr const char* kDefaultFileName = "Pravlen.reg";

std::mutex g_mutex;  // guards g_store; the store itself is thread-safe
std::shared_ptr<FileStore> g_store;

// The store in use, kept alive for the caller even if another thread
// switches stores meanwhile.
std::shared_ptr<FileStore> current() {
    std::lock_guard lock(g_mutex);
    return g_store;
}

std::string default_path(const char* program_dir) {
    std::string path = program_dir ? program_dir : "";
    if (!path.empty() && path.back() != '/') path += '/';
    return path + kDefaultFileName;
}

}  // namespace

void store_init(const char* program_dir) {
    const char* path = std::getenv("PRAVLEN_STORE");
    store_use_file(path && *path ? std::string(path) : default_path(program_dir));
}

// An empty path names no file: the store then refuses everything rather than
// scatter ".lock" and temporary files in the working directory.
void store_use_file(const std::string& path) {
    auto store = path.empty() ? nullptr : std::make_shared<FileStore>(path);
    std::lock_guard lock(g_mutex);
    g_store = std::move(store);
}

bool store_use_registry(const std::string&) { return false; }

bool store_read(const char* section, const char* name, std::string* text) {
    std::shared_ptr<FileStore> store = current();
    return store && store->read(section, name, text);
}

bool store_write(const char* section, const char* name, const char* text) {
    std::shared_ptr<FileStore> store = current();
    return store && store->write(section, name, text);
}

bool store_delete(const char* section, const char* name) {
    std::shared_ptr<FileStore> store = current();
    return store && store->erase(section, name);
}

bool store_list(const char* section, std::vector<StoreValue>* values) {
    if (!values) return false;
    values->clear();
    std::shared_ptr<FileStore> store = current();
    return store && store->list(section, values);
}

std::string store_location() {
    std::shared_ptr<FileStore> store = current();
    return store ? store->path() : std::string();
}

}  // namespace platform
