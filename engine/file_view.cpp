// Interim: no file is served from a shared view yet; every download reads
// its own stream. The shared views replace this file.
#include "engine/file_view.h"

uint64_t open_file_view(const char*, uint32_t*) { return 0; }
const uint8_t* map_file_view(uint64_t) { return nullptr; }
void close_file_view(uint64_t, const uint8_t*) {}
TransferSession* share_file_view(TransferSession*) { return nullptr; }
TransferSession* release_file_view(TransferSession*) { return nullptr; }
void clear_pending_sharer() {}
bool file_has_view(const char*) { return false; }

void release_file(TransferSession* session) {
    if (session->file) std::fclose(session->file);
    session->file = nullptr;
}
