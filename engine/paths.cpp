#include "engine/paths.h"

#include <cstdio>
#include <cstring>
#include <optional>
#include <string_view>

#include "engine/packets.h"
#include "platform/files.h"

namespace {

constexpr std::size_t kRuleSize = 64;
constexpr int kMaxRules = 10000;  // a bound on a store edited by hand

uint32_t host_order(uint32_t address) {
    return (address >> 24) | ((address >> 8) & 0xFF00u) | ((address << 8) & 0xFF0000u) |
           (address << 24);
}

// The request form of the first prefix entry that `name` lies under, with
// the entry itself. A match must end at a separator or at the end of the
// name: "\D\images2" is not under the entry "D:\images".
std::optional<std::pair<std::string, std::string>> find_prefix(const char* prefixes,
                                                               std::string_view name) {
    std::string_view list(prefixes);
    while (!list.empty()) {
        std::string_view entry = list.substr(0, list.find(';'));
        list.remove_prefix(std::min(list.size(), entry.size() + 1));
        std::optional<std::string> form = platform::prefix_request_form(entry);
        if (!form || form->size() > name.size() || !platform::prefix_matches(*form, name)) continue;
        bool boundary =
            form->back() == '\\' || name.size() == form->size() || name[form->size()] == '\\';
        if (boundary) return std::make_pair(*form, std::string(entry));
    }
    return std::nullopt;
}

bool store_in(TransferSession* session, const std::string& path) {
    if (path.size() >= sizeof session->fileName) return false;
    std::memcpy(session->fileName, path.c_str(), path.size() + 1);
    return true;
}

// The directory named after the client's address, when it exists.
std::optional<std::string> address_directory(const Settings& settings, uint32_t client) {
    char address[kIpv4TextSize];
    format_ipv4(client, address);
    std::string dir = std::string(settings.server.RootDirectory) + address;
    if (platform::file_kind(dir) != platform::FileKind::kDirectory) return std::nullopt;
    return std::string(address);
}

// Whether the rule's address part ("from" or "from-to") covers `client`
// (host order). An address that does not parse covers nobody.
bool rule_covers(char* range, uint32_t client) {
    char* dash = std::strchr(range, '-');
    if (dash) *dash = '\0';
    uint32_t from = 0, to = 0;
    if (!parse_ipv4_prefix(range, &from) || host_order(from) > client) return false;
    if (!dash) return client <= host_order(from);
    return parse_ipv4_prefix(dash + 1, &to) && client <= host_order(to);
}

}  // namespace

bool find_access_rule(uint32_t client, const std::string& group, std::string* letters) {
    for (int n = 0; n < kMaxRules; ++n) {
        char name[kPathSize + 16], rule[kRuleSize];
        std::snprintf(name, sizeof name, "%s\\%u", group.c_str(), static_cast<unsigned>(n));
        if (read_setting(kAccessSection, name, "", rule, sizeof rule) == 0) return false;
        char* comma = std::strchr(rule, ',');
        if (!comma) {
            *letters = rule;
            return true;
        }
        *comma = '\0';
        if (rule_covers(comma + 1, client)) {
            *letters = rule;
            return true;
        }
    }
    return false;
}

bool check_access(const Settings& settings,
                  const std::string& relativePath,
                  uint32_t clientAddress,
                  int opcode,
                  bool* overwrite) {
    *overwrite = true;
    if (!settings.server.AccessControl) return true;
    std::string::size_type slash = relativePath.find('\\');
    std::string group = slash == std::string::npos ? "%root%" : relativePath.substr(0, slash);
    std::string letters;
    if (!find_access_rule(host_order(clientAddress), group, &letters)) return false;
    *overwrite = letters.find('o') != std::string::npos;
    char needed = opcode == kOpWriteRequest ? 'w' : 'r';
    return letters.find(needed) != std::string::npos;
}

int resolve_path(TransferSession* session,
                 const Settings& settings,
                 const char* name,
                 ResolvedPath* resolved) {
    std::string_view request(name);
    if (auto prefix = find_prefix(settings.server.Prefix, request)) {
        // Through a prefix entry the file lies outside the root; no access
        // rule applies and files may be replaced.
        resolved->overwrite = true;
        resolved->baseDir = prefix->second;
        resolved->mapName = std::string(request.substr(1));
        std::string path = prefix->second + std::string(request.substr(prefix->first.size()));
        return store_in(session, path) ? -1 : kMsgPathTooLong;
    }
    if (!request.empty() && request[0] == '\\') request.remove_prefix(1);
    std::string root = settings.server.RootDirectory;
    if (root.size() + request.size() + 1 >= kPathSize) return kMsgPathTooLong;
    std::string relative(request);
    std::string path = root;
    resolved->mapName = std::string(request);
    if (settings.server.RootIPspecific) {
        if (auto address = address_directory(settings, session->clientAddress)) {
            path += *address + "\\";
            relative = *address + "\\";
            resolved->mapName = relative + resolved->mapName;
        }
    }
    if (!check_access(settings, relative, session->clientAddress, session->opcode,
                      &resolved->overwrite))
        return kMsgAccessDenied;
    resolved->baseDir = root;
    return store_in(session, path + std::string(request)) ? -1 : kMsgPathTooLong;
}
