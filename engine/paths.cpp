#include "engine/paths.h"

#include <cstdio>
#include <cstring>
#include <optional>
#include <string_view>

#include "engine/packets.h"
#include "platform/files.h"
#include "settings/ipv4.h"

namespace {

constexpr std::size_t kRuleSize = 64;
constexpr int kMaxRules = 10000;  // a bound on a store edited by hand

uint32_t host_order(uint32_t address) {
    return (address >> 24) | ((address >> 8) & 0xFF00u) | ((address << 8) & 0xFF0000u) |
           (address << 24);
}

// A prefix entry ("D:\images", or "/srv/images" off Windows) and the form in
// which a request names it ("\D\images", "\srv\images").
struct Prefix {
    std::string form;
    std::string entry;
};

// The first prefix entry that `name` lies under. A match must end at a
// separator or at the end of the name: "\D\images2" is not under the entry
// "D:\images".
std::optional<Prefix> find_prefix(const char* prefixes, std::string_view name) {
    std::string_view list(prefixes);
    while (!list.empty()) {
        std::string_view entry = list.substr(0, list.find(';'));
        list.remove_prefix(std::min(list.size(), entry.size() + 1));
        std::optional<std::string> form = platform::prefix_request_form(entry);
        if (!form || form->size() > name.size() || !platform::prefix_matches(*form, name)) continue;
        bool boundary =
            form->back() == '\\' || name.size() == form->size() || name[form->size()] == '\\';
        if (boundary) return Prefix{*form, std::string(entry)};
    }
    return std::nullopt;
}

bool store_in(TransferSession* session, const std::string& path) {
    if (path.size() >= sizeof session->fileName) return false;
    std::memcpy(session->fileName, path.c_str(), path.size() + 1);
    return true;
}

// With RootIPspecific, the directory named after the client's address with
// its separator ("10.0.0.5\"), when it exists; else empty.
std::string client_directory(const Settings& settings, uint32_t client) {
    if (!settings.server.RootIPspecific) return {};
    char address[kIpv4TextSize];
    format_ipv4(client, address);
    std::string dir = std::string(settings.server.RootDirectory) + address;
    if (platform::file_kind(dir) != platform::FileKind::kDirectory) return {};
    return std::string(address) + "\\";
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

// Through a prefix entry the file lies outside the root; no access rule
// applies and files may be replaced.
std::optional<ErrorMessage> resolve_through_prefix(TransferSession* session,
                                                   const Prefix& prefix,
                                                   std::string_view request,
                                                   ResolvedPath* resolved) {
    resolved->overwrite = true;
    resolved->baseDir = prefix.entry;
    resolved->mapName = std::string(request.substr(1));
    std::string path = prefix.entry + std::string(request.substr(prefix.form.size()));
    if (!store_in(session, path)) return ErrorMessage::kPathTooLong;
    return std::nullopt;
}

// Below the root, or below the client's address directory in it: the access
// rules of the name's group decide.
std::optional<ErrorMessage> resolve_under_root(TransferSession* session,
                                               const Settings& settings,
                                               std::string_view request,
                                               ResolvedPath* resolved) {
    if (!request.empty() && request[0] == '\\') request.remove_prefix(1);
    std::string root = settings.server.RootDirectory;
    if (root.size() + request.size() + 1 >= kPathSize) return ErrorMessage::kPathTooLong;
    std::string directory = client_directory(settings, session->clientAddress);
    std::string relative = directory.empty() ? std::string(request) : directory;
    resolved->mapName = directory + std::string(request);
    if (!check_access(settings, relative, session->clientAddress, session->opcode,
                      &resolved->overwrite))
        return ErrorMessage::kAccessDenied;
    resolved->baseDir = root;
    if (!store_in(session, root + directory + std::string(request)))
        return ErrorMessage::kPathTooLong;
    return std::nullopt;
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

std::optional<ErrorMessage> resolve_path(TransferSession* session,
                                         const Settings& settings,
                                         const char* name,
                                         ResolvedPath* resolved) {
    std::string_view request(name);
    if (auto prefix = find_prefix(settings.server.Prefix, request))
        return resolve_through_prefix(session, *prefix, request, resolved);
    return resolve_under_root(session, settings, request, resolved);
}
