#include "engine/file_view.h"

#include <atomic>
#include <cstdio>
#include <mutex>

#include "engine/client_list.h"
#include "platform/file_view.h"
#include "platform/files.h"

namespace {

// The record that copied a view but is not yet in the client list, so that a
// transfer ending meanwhile does not close the view under it.
std::atomic<TransferSession*> g_pendingSharer{nullptr};

// Serialises taking and giving up shares. Without it, a donor that ends while
// the receive loop copies its view could close the view first, and two
// sharers ending together could each see the other still running and leave
// the view open forever. Taken once per transfer, never per block.
std::mutex g_viewLock;

std::atomic<int> g_openViews{0};

int32_t worker_of(const TransferSession* s) {
    return std::atomic_ref<const int32_t>(s->worker).load(std::memory_order_acquire);
}

// Whether `other` is a running transfer that holds a view.
bool holds_view(const TransferSession* other) {
    return worker_of(other) != -1 && other->useFileView && other->viewBase;
}

TransferSession* find_sharer(const TransferSession* session) {
    for (TransferSession* s = list_head(); s; s = list_next(s)) {
        if (s == session || !holds_view(s) || s->transferSize == 0 || !s->mappingHandle) continue;
        if (platform::same_file_name(s->fileName, session->fileName)) return s;
    }
    return nullptr;
}

TransferSession* find_other_user(const TransferSession* session) {
    for (TransferSession* s = list_head(); s; s = list_next(s))
        if (s != session && holds_view(s) && s->viewBase == session->viewBase) return s;
    return nullptr;
}

// A pending sharer of the same view still needs it; a pending reference to
// `session` itself ends here.
TransferSession* pending_user(const TransferSession* session) {
    TransferSession* pending = g_pendingSharer.load(std::memory_order_acquire);
    if (pending == session) {
        g_pendingSharer.store(nullptr, std::memory_order_release);
        return nullptr;
    }
    return pending && pending->viewBase == session->viewBase ? pending : nullptr;
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
    g_pendingSharer.store(session, std::memory_order_release);
    session->mappingHandle = donor->mappingHandle;
    session->transferSize = donor->transferSize;
    session->viewBase = donor->viewBase;
    return donor;
}

TransferSession* release_file_view(TransferSession* session) {
    std::lock_guard lock(g_viewLock);
    TransferSession* user = pending_user(session);
    if (!user) user = find_other_user(session);
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

void clear_pending_sharer() { g_pendingSharer.store(nullptr, std::memory_order_release); }

bool file_has_view(const char* fileName) {
    std::lock_guard lock(g_viewLock);
    for (TransferSession* s = list_head(); s; s = list_next(s))
        if (holds_view(s) && platform::same_file_name(s->fileName, fileName)) return true;
    return false;
}

int count_open_file_views() { return g_openViews.load(std::memory_order_relaxed); }
