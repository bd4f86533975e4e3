#include "engine/file_view.h"

#include <atomic>
#include <cstdio>
#include <mutex>
#include <vector>

#include "engine/client_list.h"
#include "platform/file_view.h"
#include "platform/files.h"

namespace {

// Serialises taking and giving up shares. Without it, a donor that ends while
// the receive loop copies its view could close the view first, and two
// sharers ending together could each see the other still running and leave
// the view open forever. Taken once per transfer, never per block.
std::mutex g_viewLock;

// Every open view with the records that hold it: the one that opened it and
// each record that took a share, from the moment it took it (before it is
// in the client list) until it releases it. Only the last holder closes the
// view. Kept apart from the client list, which also holds every finished
// record for seconds: looking views up there cost a walk of thousands of
// records per request under load. Guarded by g_viewLock.
struct ViewHolders {
    const uint8_t* base = nullptr;
    std::vector<TransferSession*> holders;
};
std::vector<ViewHolders> g_views;

std::atomic<int> g_openViews{0};

int32_t worker_of(const TransferSession* s) {
    return std::atomic_ref<const int32_t>(s->worker).load(std::memory_order_acquire);
}

// A record whose worker runs (started, not ended): a record still being
// accepted has none yet and cannot lend its view.
bool is_running(const TransferSession* s) {
    int32_t worker = worker_of(s);
    return worker != 0 && worker != kWorkerEnded;
}

ViewHolders* view_of(const uint8_t* base) {
    for (ViewHolders& v : g_views)
        if (v.base == base) return &v;
    return nullptr;
}

TransferSession* find_sharer(const TransferSession* session) {
    for (const ViewHolders& v : g_views)
        for (TransferSession* s : v.holders)
            if (s != session && is_running(s) && s->transferSize != 0 && s->mappingHandle &&
                platform::same_file_name(s->fileName, session->fileName))
                return s;
    return nullptr;
}

// Removes `session` from the holders of its view; returns another holder,
// or null when it was the last (the view is then forgotten).
TransferSession* drop_holder(const TransferSession* session) {
    ViewHolders* view = view_of(session->viewBase);
    if (!view) return nullptr;
    std::erase(view->holders, session);
    if (!view->holders.empty()) return view->holders.front();
    std::erase_if(g_views, [view](const ViewHolders& v) { return &v == view; });
    return nullptr;
}

void forget_view(TransferSession* session) {
    session->useFileView = 0;
    session->mappingHandle = 0;
    session->viewBase = nullptr;
}

// Opens a view of its own for `session`; false when the file is unsuitable.
bool open_own_view(TransferSession* session, uint32_t maxBytes) {
    uint32_t size = 0;
    uint64_t mapping = open_file_view(session->fileName, &size);
    if (!mapping) return false;
    const uint8_t* base = size <= maxBytes ? map_file_view(mapping) : nullptr;
    if (!base) {
        close_file_view(mapping, nullptr);
        return false;
    }
    session->mappingHandle = mapping;
    session->viewBase = base;
    session->transferSize = size;
    std::lock_guard lock(g_viewLock);
    g_views.push_back({base, {session}});
    return true;
}

}  // namespace

uint64_t open_file_view(const char* path, uint32_t* size) {
    return platform::open_file_mapping(path, size);
}

const uint8_t* map_file_view(uint64_t mapping) {
    const uint8_t* base = platform::map_file_mapping(mapping);
    if (base) g_openViews.fetch_add(1, std::memory_order_relaxed);
    return base;
}

void close_file_view(uint64_t mapping, const uint8_t* base) {
    if (base) g_openViews.fetch_sub(1, std::memory_order_relaxed);
    platform::close_file_mapping(mapping, base);
}

bool attach_file_view(TransferSession* session, uint32_t maxBytes) {
    session->useFileView = 1;
    if (share_file_view(session)) return true;
    if (open_own_view(session, maxBytes)) return true;
    forget_view(session);
    return false;
}

TransferSession* share_file_view(TransferSession* session) {
    std::lock_guard lock(g_viewLock);
    TransferSession* donor = find_sharer(session);
    if (!donor) return nullptr;
    session->mappingHandle = donor->mappingHandle;
    session->transferSize = donor->transferSize;
    session->viewBase = donor->viewBase;
    view_of(donor->viewBase)->holders.push_back(session);
    return donor;
}

TransferSession* release_file_view(TransferSession* session) {
    std::lock_guard lock(g_viewLock);
    TransferSession* user = drop_holder(session);
    if (!user) close_file_view(session->mappingHandle, session->viewBase);
    forget_view(session);
    return user;
}

void release_file(TransferSession* session) {
    if (session->useFileView) {
        release_file_view(session);
    } else if (session->file) {
        std::fclose(session->file);
        session->file = nullptr;
    }
}

bool file_has_view(const char* fileName) {
    std::lock_guard lock(g_viewLock);
    for (const ViewHolders& v : g_views)
        for (const TransferSession* s : v.holders)
            if (is_running(s) && platform::same_file_name(s->fileName, fileName)) return true;
    return false;
}

int count_open_file_views() { return g_openViews.load(std::memory_order_relaxed); }
