#include "tests/integration/tftp_client.h"

#include <algorithm>

namespace {

constexpr uint32_t kLoopback = 127u | (1u << 24);

void put16(std::string& out, uint16_t value) {
    out += static_cast<char>(value >> 8);
    out += static_cast<char>(value & 0xFF);
}

uint16_t get16(const std::string& s, std::size_t at) {
    return static_cast<uint16_t>((static_cast<uint8_t>(s[at]) << 8) |
                                 static_cast<uint8_t>(s[at + 1]));
}

}  // namespace

std::map<std::string, std::string> oack_options(const Packet& oack) {
    std::map<std::string, std::string> options;
    const std::string& b = oack.body;
    std::size_t at = 0;
    while (at < b.size()) {
        std::size_t nameEnd = b.find('\0', at);
        if (nameEnd == std::string::npos) break;
        std::size_t valueEnd = b.find('\0', nameEnd + 1);
        if (valueEnd == std::string::npos) break;
        options[b.substr(at, nameEnd - at)] = b.substr(nameEnd + 1, valueEnd - nameEnd - 1);
        at = valueEnd + 1;
    }
    return options;
}

uint16_t free_udp_port() {
    platform::Socket s = platform::open_udp_socket(kLoopback, 0);
    platform::Endpoint local;
    uint16_t port = 0;
    if (s != kNoSocket && platform::local_endpoint(s, &local))
        port = platform::port_from_network(local.port);
    platform::close_udp_socket(s);
    return port;
}

TftpClient::TftpClient() : socket_(platform::open_udp_socket(kLoopback, 0)) {}

TftpClient::~TftpClient() { platform::close_udp_socket(socket_); }

platform::Endpoint TftpClient::server(uint16_t port) {
    return {kLoopback, platform::port_to_network(port)};
}

uint16_t TftpClient::local_port() const {
    platform::Endpoint local;
    return platform::local_endpoint(socket_, &local) ? platform::port_from_network(local.port) : 0;
}

void TftpClient::send_raw(const std::string& bytes, platform::Endpoint to) {
    platform::send_udp_to(socket_, bytes.data(), bytes.size(), to);
}

void TftpClient::request(uint16_t opcode,
                         const std::string& file,
                         const std::string& mode,
                         const Options& options,
                         uint16_t port) {
    std::string p;
    put16(p, opcode);
    p += file + '\0' + mode + '\0';
    for (const auto& [name, value] : options) p += name + '\0' + value + '\0';
    send_raw(p, server(port));
}

void TftpClient::ack(uint16_t block, platform::Endpoint to) {
    std::string p;
    put16(p, 4);
    put16(p, block);
    send_raw(p, to);
}

void TftpClient::data(uint16_t block, const std::string& bytes, platform::Endpoint to) {
    std::string p;
    put16(p, 3);
    put16(p, block);
    send_raw(p + bytes, to);
}

void TftpClient::error(uint16_t code, const std::string& message, platform::Endpoint to) {
    std::string p;
    put16(p, 5);
    put16(p, code);
    send_raw(p + message + '\0', to);
}

bool TftpClient::receive(Packet* packet, int timeoutMs) {
    bool readable = false;
    if (platform::wait_readable(&socket_, 1, timeoutMs, &readable) <= 0) return false;
    std::string buffer(65536, '\0');
    int n = platform::receive_udp(socket_, buffer.data(), buffer.size(), &packet->from);
    if (n < 0) return false;
    buffer.resize(static_cast<std::size_t>(n));
    packet->size = buffer.size();
    packet->opcode = buffer.size() >= 2 ? get16(buffer, 0) : 0;
    packet->number = buffer.size() >= 4 ? get16(buffer, 2) : 0;
    std::size_t bodyAt = packet->opcode == 6 ? 2 : 4;
    packet->body = buffer.size() > bodyAt ? buffer.substr(bodyAt) : std::string();
    if (packet->opcode == 5) packet->body = packet->body.c_str();
    return true;
}

TftpClient::Result TftpClient::download(uint16_t port,
                                        const std::string& file,
                                        const std::string& mode,
                                        const Options& options,
                                        int blockSize,
                                        int timeoutMs) {
    Result r;
    request(1, file, mode, options, port);
    uint16_t expected = 1;
    Packet p;
    while (receive(&p, timeoutMs)) {
        if (p.opcode == 5) {
            r.error = p;
            return r;
        }
        if (p.opcode == 6) {
            r.oack = oack_options(p);
            ack(0, p.from);
            continue;
        }
        if (p.opcode != 3) continue;
        if (p.number == expected) {
            r.data += p.body;
            ++r.blocks;
            ++expected;
        }
        ack(p.number, p.from);
        if (p.number == static_cast<uint16_t>(expected - 1) &&
            p.body.size() < static_cast<std::size_t>(blockSize)) {
            r.ok = true;
            return r;
        }
    }
    return r;
}

TftpClient::Result TftpClient::upload(uint16_t port,
                                      const std::string& file,
                                      const std::string& bytes,
                                      const std::string& mode,
                                      const Options& options,
                                      int blockSize,
                                      int timeoutMs) {
    Result r;
    request(2, file, mode, options, port);
    Packet p;
    if (!receive(&p, timeoutMs)) return r;
    if (p.opcode == 5) {
        r.error = p;
        return r;
    }
    if (p.opcode == 6) r.oack = oack_options(p);
    if (p.opcode != 6 && !(p.opcode == 4 && p.number == 0)) return r;
    platform::Endpoint peer = p.from;
    std::size_t offset = 0;
    for (uint16_t block = 1;; ++block) {
        std::size_t n = std::min<std::size_t>(blockSize, bytes.size() - offset);
        std::string chunk = bytes.substr(offset, n);
        bool acked = false;
        for (int attempt = 0; attempt < 5 && !acked; ++attempt) {
            data(block, chunk, peer);
            while (receive(&p, timeoutMs)) {
                if (p.opcode == 5) {
                    r.error = p;
                    return r;
                }
                if (p.opcode == 4 && p.number == block) {
                    acked = true;
                    break;
                }
            }
        }
        if (!acked) return r;
        ++r.blocks;
        offset += n;
        if (n < static_cast<std::size_t>(blockSize)) break;
    }
    r.ok = true;
    return r;
}
