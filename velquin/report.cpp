#include "velquin/report.h"

#include <cstdio>
#include <cstring>

#include "rules/transfer_status.h"

namespace {

std::string printf_text(const char* format, auto... arguments) {
    char buffer[256];
    std::snprintf(buffer, sizeof buffer, format, arguments...);
    return buffer;
}

uint16_t host_port(uint16_t networkPort) {
    return static_cast<uint16_t>((networkPort >> 8) | (networkPort << 8));
}

std::string_view result_word(int32_t status) {
    if (status < 0) return "running";
    return status == 0 ? "completed" : "failed";
}

bool json_number(SettingKind kind) {
    return kind == SettingKind::kNumber || kind == SettingKind::kClients ||
           kind == SettingKind::kMebibytes;
}

}  // namespace

std::string json_string(std::string_view text) {
    std::string out = "\"";
    for (char c : text) {
        unsigned char byte = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '\r') {
            out += "\\r";
        } else if (c == '\t') {
            out += "\\t";
        } else if (byte < 0x20 || byte == 0x7F) {
            out += printf_text("\\u%04x", byte);
        } else {
            out += c;
        }
    }
    return out + "\"";
}

std::string_view state_word(const ServerState& state) {
    if (!state.reachable) return "not running";
    if (state.paused) return "paused";
    return state.settings.listenFailed ? "port failed" : "serving";
}

std::string status_report(const ServerState& state, bool json) {
    const ServerSettings& s = state.settings;
    if (json) {
        std::string out = "{\"state\":" + json_string(state_word(state));
        if (state.reachable) {
            out += printf_text(",\"port\":%d,\"address\":", s.Port) +
                   json_string(s.Address ? format_address(s.Address) : "") +
                   printf_text(",\"running\":%d", state.running);
        }
        return out + "}\n";
    }
    std::string line =
        compose_state_line(s, english_status_texts(), state.paused, !state.reachable);
    while (!line.empty() && line.front() == ' ') line.erase(0, 1);
    if (!state.reachable) return line + "\n";
    return line + "\n" +
           printf_text("%s %d\n", english_status_texts().clients.c_str(), state.running);
}

TransferLine transfer_line(const TransferSession& session, std::string_view root) {
    std::size_t nameLength = strnlen(session.fileName, sizeof session.fileName);
    std::string_view name(session.fileName, nameLength);
    std::size_t rootLength = !root.empty() && name.starts_with(root) ? root.size() : 0;
    TransferRow row = transfer_row(session, rootLength, true);
    uint32_t size = session.transferSize;
    uint32_t bytes = uint32_t{session.blockSize} * session.blockNumber;
    if (size != 0 && bytes > size) bytes = size;
    return TransferLine{row.address,
                        row.operation,
                        row.file,
                        std::string(result_word(session.status)),
                        host_port(session.clientPort),
                        bytes,
                        size,
                        size != 0 ? row.progress : std::string()};
}

std::string transfers_report(const std::vector<TransferLine>& lines, bool json) {
    if (json) {
        std::string out = "[";
        for (const TransferLine& t : lines) {
            if (out.size() > 1) out += ",";
            out += "{\"client\":" + json_string(t.client) + printf_text(",\"port\":%u", t.port) +
                   ",\"operation\":" + json_string(t.operation) +
                   ",\"file\":" + json_string(t.file) +
                   printf_text(",\"bytes\":%u,\"size\":%u", t.bytes, t.size) +
                   ",\"state\":" + json_string(t.state) + "}";
        }
        return out + "]\n";
    }
    if (lines.empty()) return {};
    std::string out = printf_text("%-15s %-10s %12s %7s %-9s %s\n", "CLIENT", "OPERATION", "BYTES",
                                  "PERCENT", "STATE", "FILE");
    for (const TransferLine& t : lines) {
        out += printf_text("%-15s %-10s %12u %7s %-9s ", t.client.c_str(), t.operation.c_str(),
                           t.bytes, t.percent.empty() ? "-" : t.percent.c_str(), t.state.c_str());
        out += t.file + "\n";
    }
    return out;
}

std::string settings_report(const std::vector<const SettingName*>& settings,
                            const SettingsRecords& records,
                            bool json) {
    std::string out = json ? "{" : "";
    for (const SettingName* setting : settings) {
        std::string value = setting_value_text(*setting, records);
        if (!json) {
            out += std::string(setting->name) + "=" + value + "\n";
            continue;
        }
        if (out.size() > 1) out += ",";
        out += json_string(setting->name) + ":" +
               (json_number(setting->kind) ? value : json_string(value));
    }
    return json ? out + "}\n" : out;
}
