#include "platform/file_store.h"

#include <utility>

namespace platform {
namespace {

// Far beyond any settings file; a larger file is not read into memory.
constexpr std::size_t kMaxFileSize = 16u << 20;

// A file written this recently may be changed again within the same tick of
// its timestamp (coarse kernel clocks, FAT's two seconds) without its
// identity changing, so it is read afresh until it is this old.
constexpr int64_t kSettleSeconds = 2;

}  // namespace

FileStore::FileStore(std::string path) : path_(std::move(path)) {}

// An empty file is taken as an empty store rather than a damaged one: it
// holds nothing that a write could lose (administrators create one with
// "touch").
FileStore::Load FileStore::load_fresh(RegFile* file, FileIdentity* identity) const {
    std::string data;
    switch (read_whole_file(path_, kMaxFileSize, &data, identity)) {
        case ReadStatus::kOk:
            break;
        case ReadStatus::kMissing:
            *file = RegFile();
            return Load::kMissing;
        case ReadStatus::kUnreadable:
        case ReadStatus::kTooLarge:
            return Load::kCorrupt;
    }
    if (data.empty()) {
        *file = RegFile();
        return Load::kFile;
    }
    std::optional<RegFile> parsed = RegFile::parse(data);
    if (!parsed) return Load::kCorrupt;
    *file = std::move(*parsed);
    return Load::kFile;
}

// The file as it is now, from the cache while the file keeps its identity.
// A missing or damaged file gives an empty store. cache_mutex_ is held.
const RegFile& FileStore::current_file() {
    FileIdentity now;
    if (cache_ && cache_reusable_ && file_identity(path_, &now) && now == cache_identity_) {
        return *cache_;
    }
    RegFile file;
    FileIdentity identity;
    Load load = load_fresh(&file, &identity);
    cache_ = std::move(file);
    cache_identity_ = identity;
    cache_reusable_ =
        load == Load::kFile && file_clock_seconds() - identity.modified_seconds >= kSettleSeconds;
    return *cache_;
}

bool FileStore::read(const char* section, const char* name, std::string* text) {
    if (!section || !name || !text) return false;
    std::string key = section_key(kStoreProductKey, section);
    { std::lock_guard turn(turnstile_); }
    std::lock_guard lock(cache_mutex_);
    std::optional<std::string> value = current_file().get(key, name);
    if (!value) return false;
    *text = std::move(*value);
    return true;
}

bool FileStore::list(const char* section, std::vector<StoreValue>* values) {
    if (!section || !values) return false;
    values->clear();
    std::string key = section_key(kStoreProductKey, section);
    { std::lock_guard turn(turnstile_); }
    std::lock_guard lock(cache_mutex_);
    const RegFile& file = current_file();
    for (auto& [name, text] : file.values(key))
        values->push_back(StoreValue{std::move(name), std::move(text)});
    return file.has_key(key);
}

// Applies one change to the file as it is on disk now, under the lock that
// other processes take for their changes too, so that no change is lost.
template <typename Apply>
bool FileStore::change(Apply&& apply) {
    std::lock_guard serial(write_mutex_);
    FileLock lock(path_ + ".lock");
    if (!lock.held()) return false;
    RegFile file;
    FileIdentity identity;
    if (load_fresh(&file, &identity) == Load::kCorrupt) return false;
    switch (apply(file)) {
        case Outcome::kRefused:
            return false;
        case Outcome::kUnchanged:
            return true;
        case Outcome::kChanged:
            break;
    }
    return write_replacement(path_, file.serialise()) && commit();
}

bool FileStore::commit() {
    std::lock_guard turn(turnstile_);
    std::lock_guard lock(cache_mutex_);
    cache_reusable_ = false;
    return commit_replacement(path_);
}

bool FileStore::write(const char* section, const char* name, const char* text) {
    if (!section || !name || !text) return false;
    std::string key = section_key(kStoreProductKey, section);
    return change([&](RegFile& file) {
        std::optional<std::string> current = file.get(key, name);
        if (current && *current == text) return Outcome::kUnchanged;
        return file.set(key, name, text) ? Outcome::kChanged : Outcome::kRefused;
    });
}

bool FileStore::erase(const char* section, const char* name) {
    if (!section || !name) return false;
    std::string key = section_key(kStoreProductKey, section);
    return change([&](RegFile& file) {
        bool erased = file.erase(key, name) == RegFile::EraseResult::kErased;
        return erased ? Outcome::kChanged : Outcome::kRefused;
    });
}

}  // namespace platform
