#include "engine/multicast.h"

#include <atomic>
#include <cstring>

#include "engine/client_list.h"
#include "engine/options.h"
#include "settings/text.h"
#include "platform/files.h"
#include "settings/ipv4.h"
#include "settings/settings.h"

namespace {

constexpr std::size_t kPxeEntrySize = 24;

bool has_option(const TransferSession* s) { return (s->optionFlags & kOptionMulticast) != 0; }

std::atomic_ref<uint32_t> master_flag(TransferSession* s) {
    return std::atomic_ref<uint32_t>(s->isMaster);
}

bool same_file(const TransferSession* a, const TransferSession* b) {
    return platform::same_file_name(a->fileName, b->fileName);
}

// Members of one group share the file, the block size and the mode.
bool same_transfer(const TransferSession* a, const TransferSession* b) {
    return a->mode == b->mode && a->blockSize == b->blockSize && same_file(a, b);
}

bool same_group(const TransferSession* a, const TransferSession* b) {
    return a->multicastAddress == b->multicastAddress && a->multicastPort == b->multicastPort &&
           same_transfer(a, b);
}

TransferSession* running_master_of(const TransferSession* session) {
    for (TransferSession* s = list_head(); s; s = list_next(s))
        if (s != session && is_active(s) && has_option(s) && is_master(s) &&
            same_transfer(s, session))
            return s;
    return nullptr;
}

// A free port from `first` to `last`; 0 when every one is taken.
uint16_t free_group_port(uint16_t first, uint16_t last) {
    for (uint32_t port = first; port <= last; ++port)
        if (multicast_port_free(static_cast<uint16_t>(port))) return static_cast<uint16_t>(port);
    return 0;
}

bool pxe_multicast_running(const TransferSession* session) {
    for (TransferSession* s = list_head(); s; s = list_next(s))
        if (s != session && is_active(s) && s->pxeMulticast && same_file(s, session)) return true;
    return false;
}

}  // namespace

bool is_master(const TransferSession* session) {
    return master_flag(const_cast<TransferSession*>(session)).load(std::memory_order_acquire) != 0;
}

bool multicast_port_free(uint16_t port) {
    for (TransferSession* s = list_head(); s; s = list_next(s))
        if (is_active(s) && has_option(s) && s->multicastPort == port) return false;
    return true;
}

int assign_multicast(TransferSession* session, const Settings& settings) {
    session->isMaster = 0;
    if (TransferSession* master = running_master_of(session)) {
        session->multicastAddress = master->multicastAddress;
        session->multicastPort = master->multicastPort;
        return 0;
    }
    uint16_t port =
        free_group_port(settings.multicast.MulticastPort, settings.multicast.MulticastLast);
    if (port == 0) {
        session->optionFlags &= ~kOptionMulticast;
        return 0;
    }
    session->multicastPort = port;
    session->multicastAddress = settings.multicast.MulticastIp;
    session->isMaster = 1;
    return 1;
}

TransferSession* hand_over_master(TransferSession* session) {
    TransferSession* promoted = nullptr;
    for (TransferSession* s = list_head(); s && !promoted; s = list_next(s))
        if (s != session && is_active(s) && has_option(s) && !is_master(s) &&
            same_group(s, session))
            promoted = s;
    if (promoted) master_flag(promoted).store(1, std::memory_order_release);
    master_flag(session).store(0, std::memory_order_release);
    return promoted;
}

PxeOutcome find_pxe_mapping(TransferSession* session,
                            const Settings& settings,
                            const std::string& mapName) {
    char entry[kPxeEntrySize];
    if (read_setting(kPxeSection, mapName.c_str(), "", entry, sizeof entry) == 0)
        return PxeOutcome::kOrdinary;
    uint32_t address = 0;
    const char* rest = parse_ipv4_prefix(entry, &address);
    session->multicastAddress = rest && address ? address : settings.pxe.PxeMulticastIp;
    uint32_t port = 0;
    const char* portText = rest && *rest == ':' ? rest + 1 : nullptr;
    if (!portText || !scan_unsigned(portText, &port) || port == 0 || port > 65535)
        port = settings.pxe.PxeMulticastPort;
    session->multicastPort = static_cast<uint16_t>(port);
    if (pxe_multicast_running(session)) return PxeOutcome::kAbsorbed;
    session->pxeMulticast = 1;
    // The block size is set by hand in the store: held to what a datagram
    // carries, like a negotiated one.
    uint32_t blockSize = settings.pxe.PxeBlocksize;
    session->blockSize = static_cast<uint16_t>(blockSize < kMinBlockSize   ? kMinBlockSize
                                               : blockSize > kMaxBlockSize ? kMaxBlockSize
                                                                           : blockSize);
    return PxeOutcome::kMulticast;
}
