#include "engine/oack.h"

#include <cstdio>
#include <cstring>

#include "engine/packets.h"
#include "platform/udp.h"
#include "service/settings.h"
#include "service/transfer_log.h"

namespace {

// Appends "name\0value\0"; returns the new length.
std::size_t append_option(uint8_t* packet, std::size_t at, const char* name, const char* value) {
    std::size_t n = std::strlen(name) + 1, v = std::strlen(value) + 1;
    std::memcpy(packet + at, name, n);
    std::memcpy(packet + at + n, value, v);
    return at + n + v;
}

std::size_t append_number(uint8_t* packet, std::size_t at, const char* name, uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "%u", value);
    return append_option(packet, at, name, text);
}

std::size_t build_oack(const TransferSession* s, uint8_t* packet, char* group) {
    put16(packet, kOpOack);
    std::size_t at = 2;
    if (s->optionFlags & kOptionBlksize) at = append_number(packet, at, "blksize", s->blockSize);
    if (s->optionFlags & kOptionTimeout)
        at = append_number(packet, at, "timeout", s->timeoutSeconds);
    if (s->optionFlags & kOptionTsize) at = append_number(packet, at, "tsize", s->transferSize);
    if (s->optionFlags & kOptionMulticast) {
        char address[kIpv4TextSize];
        std::snprintf(group, 32, "%s,%u,%u", format_ipv4(s->multicastAddress, address),
                      s->multicastPort, s->isMaster);
        at = append_option(packet, at, "multicast", group);
    }
    return at;
}

}  // namespace

int send_oack(TransferSession* s) {
    char group[32] = "";
    std::size_t length = build_oack(s, s->packet, group);
    int sent = platform::send_udp(s->dataSocket, s->packet, length);
    if (current_log_level() < kLogRequests) return sent;
    std::lock_guard lock(log_lock());
    std::FILE* out = log_stream();
    if (!out) return sent;
    std::fprintf(out, "%s TFTP  Oack sent", log_timestamp());
    if (s->optionFlags & kOptionBlksize) std::fprintf(out, " blksize %u", s->blockSize);
    if (s->optionFlags & kOptionTimeout) std::fprintf(out, " timeout %u", s->timeoutSeconds);
    if (s->optionFlags & kOptionTsize) std::fprintf(out, " tsize %u", s->transferSize);
    if (s->optionFlags & kOptionMulticast) std::fprintf(out, " multicast %s", group);
    std::fprintf(out, "\n");
    return sent;
}
