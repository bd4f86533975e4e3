#include "engine/client_list.h"

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <vector>

#include "platform/clock.h"
#include "platform/files.h"

namespace {

std::atomic<TransferSession*> g_head{nullptr};
TransferSession* g_tail = nullptr;    // receive loop only
TransferSession* g_cursor = nullptr;  // receive loop only: oldest retired record

// Receive loop only: the appended records that were active when last looked
// at. The list itself keeps every finished record for more than 5 seconds,
// which at thousands of requests a second is tens of thousands of records;
// the admission lookup walks this index instead, so its cost follows the
// running transfers, not the request rate.
std::vector<TransferSession*> g_running;

std::atomic_ref<TransferSession*> next_of(TransferSession* session) {
    return std::atomic_ref<TransferSession*>(session->next);
}

int32_t worker_of(const TransferSession* session) {
    return std::atomic_ref<const int32_t>(session->worker).load(std::memory_order_acquire);
}

uint64_t socket_of(const TransferSession* session) {
    return std::atomic_ref<const uint64_t>(session->dataSocket).load(std::memory_order_acquire);
}

int32_t status_of(const TransferSession* session) {
    return std::atomic_ref<const int32_t>(session->status).load(std::memory_order_acquire);
}

int64_t finished_at(const TransferSession* session) {
    return std::atomic_ref<const int64_t>(session->finishedAt).load(std::memory_order_relaxed);
}

// Drops the records that have ended from the index. Runs before the sweep
// frees anything, so the index never holds a freed record.
void prune_running() {
    std::erase_if(g_running, [](const TransferSession* s) { return !is_active(s); });
}

}  // namespace

TransferSession* list_head() { return g_head.load(std::memory_order_acquire); }

TransferSession* list_next(const TransferSession* session) {
    return next_of(const_cast<TransferSession*>(session)).load(std::memory_order_acquire);
}

void append_transfer(TransferSession* session) {
    next_of(session).store(nullptr, std::memory_order_relaxed);
    // When the list is empty but retired records still wait to be freed, the
    // old tail ends their chain: linking it to the new record keeps the
    // retired segment and the records retired later one chain, so the sweep's
    // cursor reaches them all. Left unlinked, every record retired after such
    // a restart would be skipped by the cursor and never freed.
    if (list_head() == nullptr) {
        if (g_cursor) next_of(g_tail).store(session, std::memory_order_release);
        g_head.store(session, std::memory_order_release);
    } else {
        next_of(g_tail).store(session, std::memory_order_release);
    }
    g_tail = session;
    g_running.push_back(session);
}

bool is_active(const TransferSession* session) {
    return socket_of(session) != kNoSocket || worker_of(session) != kWorkerEnded;
}

void mark_finished(TransferSession* session, int64_t now) {
    std::atomic_ref<int64_t>(session->finishedAt).store(now, std::memory_order_relaxed);
    std::atomic_ref<uint64_t>(session->dataSocket).store(kNoSocket, std::memory_order_release);
    std::atomic_ref<int32_t>(session->worker).store(kWorkerEnded, std::memory_order_release);
}

TransferSession* find_active_transfer(uint32_t address, uint16_t port) {
    prune_running();
    for (TransferSession* s : g_running)
        if (is_active(s) && s->clientAddress == address && s->clientPort == port) return s;
    return nullptr;
}

TransferSession* find_active_file(const char* fileName) {
    prune_running();
    for (TransferSession* s : g_running)
        if (is_active(s) && status_of(s) == kStatusRunning &&
            platform::same_file_name(s->fileName, fileName))
            return s;
    return nullptr;
}

void sweep_transfers() { sweep_transfers_at(platform::wall_seconds()); }

void sweep_transfers_at(int64_t now) {
    prune_running();
    TransferSession* head = list_head();
    if (!g_cursor) g_cursor = head;
    if (head && !is_active(head) && finished_at(head) < now - 5) {
        g_head.store(list_next(head), std::memory_order_release);
        std::atomic_ref<int64_t>(head->finishedAt).store(now, std::memory_order_relaxed);
        head = list_head();
    }
    while (g_cursor && g_cursor != head && finished_at(g_cursor) < now - 3) {
        TransferSession* next = list_next(g_cursor);
        std::free(g_cursor);
        g_cursor = next;
    }
}

int count_transfers() {
    int n = 0;
    for (TransferSession* s = list_head(); s; s = list_next(s)) ++n;
    return n;
}

int count_retired() {
    int n = 0;
    TransferSession* head = list_head();
    for (TransferSession* s = g_cursor; s && s != head; s = list_next(s)) ++n;
    return n;
}

void reset_client_list_for_testing() {
    TransferSession* s = g_cursor ? g_cursor : list_head();
    while (s) {
        TransferSession* next = list_next(s);
        std::free(s);
        s = next;
    }
    g_head.store(nullptr);
    g_running.clear();
    g_tail = nullptr;
    g_cursor = nullptr;
}
