#include "rules/transfer_status.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>

namespace {

// Transfer mode names by the record's mode; the mail name ends in a blank.
constexpr std::array<const char*, 4> kModeNames = {"", "mail ", "ascii", "octet"};

std::string printf_text(const char* format, auto... arguments) {
    char buffer[128];
    std::snprintf(buffer, sizeof buffer, format, arguments...);
    return buffer;
}

// The file name below the root directory. The record's name is bounded by
// its array even when the server sent it without a terminating NUL.
std::string file_below_root(const TransferSession& session, std::size_t rootLength) {
    std::size_t length = strnlen(session.fileName, sizeof session.fileName);
    if (length <= rootLength) return {};
    return std::string(session.fileName + rootLength, length - rootLength);
}

}  // namespace

int progress_icon(uint32_t done, uint32_t size, int32_t result) {
    if (size == 0) {
        if (result == 0) return kIconComplete;
        return result > 0 ? kIconFailed : kIconSizeUnknown;
    }
    if (result > 0) return kIconFailed;
    done = std::min(done, size);
    // The product done * 15 fits 32 bits up to 0x11111111.
    if (done <= 0x11111111u) return static_cast<int>(done * 15 / size);
    return static_cast<int>(done / (size / 15));
}

std::string progress_text(uint32_t done, uint32_t size, bool percent) {
    if (size != 0) done = std::min(done, size);
    if (!percent || size == 0) return printf_text("%u b", done);
    uint32_t share = size <= 10000 ? done * 100 / size : done / (size / 100);
    return printf_text("%u %%", share);
}

std::string operation_text(uint16_t opcode, int32_t mode) {
    std::string text = opcode == kOpReadRequest ? "Get/" : opcode == kOpWriteRequest ? "Put/" : "";
    if (mode >= 0 && mode < static_cast<int32_t>(kModeNames.size())) text += kModeNames[mode];
    return text;
}

std::string format_address(uint32_t address) {
    return printf_text("%u.%u.%u.%u", address & 0xFF, (address >> 8) & 0xFF, (address >> 16) & 0xFF,
                       address >> 24);
}

TransferRow transfer_row(const TransferSession& session, std::size_t rootLength, bool percent) {
    uint32_t done = uint32_t{session.blockSize} * session.blockNumber;
    uint32_t size = session.transferSize;
    return TransferRow{progress_icon(done, size, session.status),
                       progress_text(done, size, percent), format_address(session.clientAddress),
                       operation_text(session.opcode, session.mode),
                       file_below_root(session, rootLength)};
}

StatusTexts english_status_texts() {
    return StatusTexts{"Active Clients:",   "(view mode, no Administrator rights)",
                       "Listening on Port", "Failed to listen on Port",
                       "Server paused",     "TFTP Server service not active"};
}

std::string compose_state_line(const ServerSettings& settings,
                               const StatusTexts& texts,
                               bool paused,
                               bool pipeError) {
    std::string line;
    if (pipeError) {
        line = texts.pipeError;
    } else if (paused) {
        line = texts.paused;
    } else {
        const std::string& state = settings.listenFailed ? texts.portFailed : texts.ready;
        line = " " + state + printf_text(" %u", static_cast<uint32_t>(settings.Port));
        if (settings.Address != 0) line += "   IP " + format_address(settings.Address);
    }
    if (line.size() > kStateLineLength) line.resize(kStateLineLength);
    return line;
}
