#include "service/settings.h"

#include <atomic>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>

#include "engine/server.h"
#include "engine/text.h"
#include "platform/store.h"

namespace {

constexpr uint32_t kDefaultMulticastIp = 224u | (0u << 8) | (0u << 16) | (1u << 24);

Settings initial_settings() {
    Settings s{};
    s.multicast.MulticastIp = kDefaultMulticastIp;
    return s;
}

// The records and the program directory. Loads and replacements run on one
// thread at a time (start-up, then the control pipe under its lock); the
// mutex makes each publication atomic for the engine's readers.
std::mutex g_mutex;
Settings g_settings = initial_settings();
char g_defaultDir[kPathSize];
std::atomic<int> g_logLevel{0};

void publish_server(const ServerSettings& server, const char* logDir) {
    std::lock_guard lock(g_mutex);
    int listenFailed = g_settings.server.listenFailed;
    g_settings.server = server;
    g_settings.server.listenFailed = listenFailed;
    std::memcpy(g_settings.logDir, logDir, kPathSize);
    g_logLevel.store(server.Log, std::memory_order_relaxed);
}

void publish_multicast(const MulticastSettings& multicast) {
    std::lock_guard lock(g_mutex);
    g_settings.multicast = multicast;
}

void publish_pxe(const PxeSettings& pxe) {
    std::lock_guard lock(g_mutex);
    g_settings.pxe = pxe;
}

std::string default_directory() {
    std::lock_guard lock(g_mutex);
    return g_defaultDir;
}

// "%d" over the same rules: the low 32 bits of the number, as a signed value.
bool scan_int(const char* text, int* out) {
    uint32_t value = 0;
    if (!scan_unsigned(text, &value)) return false;
    *out = static_cast<int32_t>(value);
    return true;
}

// Reads "%u.%u.%u.%u": four numbers, each below 256. Leaves `p` after the
// fourth number.
bool scan_dotted(const char*& p, uint32_t* address) {
    uint32_t result = 0;
    const char* s = p;
    for (int i = 0; i < 4; ++i) {
        uint32_t part = 0;
        if (i > 0 && *s++ != '.') return false;
        if (!scan_unsigned(s, &part) || part > 255) return false;
        result |= part << (8 * i);
    }
    *address = result;
    p = s;
    return true;
}

uint16_t low16(int value) { return static_cast<uint16_t>(value); }

// "MulticastIp" and "PxeMulticastIp": a partial parse is enough, and a text
// that does not parse leaves the address as it was.
void load_group_address(const char* section, const char* name, uint32_t* address) {
    char text[18];
    read_setting(section, name, "", text, sizeof text);
    const char* p = text;
    uint32_t parsed = 0;
    if (text[0] && scan_dotted(p, &parsed)) *address = parsed;
}

void load_main_into(const char* section, ServerSettings& s, char* logDir) {
    s.Log = read_setting_int(section, "Log", 1);
    s.CreateLog = read_setting_int(section, "CreateLog", 0);
    s.Port = read_setting_int(section, "Port", 69);
    s.DataPort = read_setting_int(section, "DataPort", 0);
    s.Timeout = read_setting_int(section, "Timeout", 1);
    s.Retransmit = read_setting_int(section, "Retransmit", 10);
    s.Clients = read_setting_int(section, "Clients", 10);
    s.MMF = read_setting_int(section, "MMF", 1);
    uint32_t megabytes = static_cast<uint32_t>(read_setting_int(section, "MMFmax", 32));
    s.MMFmax = megabytes < 4096 ? megabytes * 1048576u : 0xFFFFFFFFu;
    s.Upload = read_setting_int(section, "Upload", 1);
    s.RootIPspecific = read_setting_int(section, "RootIPspecific", 0);
    s.WindowSize = read_setting_int(section, "WindowSize", 0);
    s.LargeFiles = read_setting_int(section, "LargeFiles", 1);
    s.Options = read_setting_int(section, "Options", 7);
    s.UnixStyle = read_setting_int(section, "UnixStyle", 0);
    s.AccessControl = read_setting_int(section, "AccessControl", 0);
    char address[kIpv4TextSize];
    read_setting(section, "Address", "", address, sizeof address);
    parse_ipv4_strict(address, &s.Address);
    std::string dir = default_directory();
    read_setting(section, "Prefix", "", s.Prefix, sizeof s.Prefix);
    read_setting(section, "RootDirectory", dir.c_str(), s.RootDirectory, sizeof s.RootDirectory);
    read_setting(section, "LogDir", dir.c_str(), logDir, kPathSize);
}

void load_multicast_into(const char* section, MulticastSettings& m) {
    m.Multicast = read_setting_int(section, "Multicast", 1);
    load_group_address(section, "MulticastIp", &m.MulticastIp);
    m.MulticastPort = low16(read_setting_int(section, "MulticastPort", 1758));
    m.MulticastLast = low16(read_setting_int(section, "MulticastLast", 65535));
    m.MulticastTTL = read_setting_int(section, "MulticastTTL", 1);
}

void load_pxe_into(const char* section, PxeSettings& p) {
    p.PXE = read_setting_int(section, "PXE", 0);
    load_group_address(section, "PxeMulticastIp", &p.PxeMulticastIp);
    p.PxeMulticastPort = low16(read_setting_int(section, "PxeMulticastPort", 1758));
    p.PxeBlocksize = low16(read_setting_int(section, "PxeBlocksize", 1432));
    p.PxePort = low16(read_setting_int(section, "PxePort", 1759));
}

void save_main_from(const char* section, const ServerSettings& s) {
    write_setting_int(section, "Log", s.Log, 1);
    write_setting_int(section, "CreateLog", s.CreateLog, 0);
    write_setting_int(section, "Port", s.Port, 69);
    write_setting_int(section, "DataPort", s.DataPort, 0);
    bool isDefaultRoot = default_directory() == s.RootDirectory;
    write_setting(section, "RootDirectory", isDefaultRoot ? nullptr : s.RootDirectory);
    write_setting_int(section, "Timeout", s.Timeout, 1);
    write_setting_int(section, "Retransmit", s.Retransmit, 10);
    write_setting_int(section, "Clients", s.Clients, 10);
    write_setting_int(section, "MMF", s.MMF, 1);
    write_setting_int(section, "RootIPspecific", s.RootIPspecific, 0);
    write_setting_int(section, "WindowSize", s.WindowSize, 0);
    write_setting_int(section, "Options", s.Options, 7);
    write_setting_int(section, "UnixStyle", s.UnixStyle, 0);
    write_setting_int(section, "AccessControl", s.AccessControl, 0);
    char address[kIpv4TextSize];
    write_setting(section, "Address", s.Address ? format_ipv4(s.Address, address) : nullptr);
}

void save_multicast_from(const char* section,
                         const MulticastSettings& m,
                         const ServerSettings& server) {
    write_setting_int(section, "Options", server.Options, 7);
    write_setting_int(section, "UnixStyle", server.UnixStyle, 0);
    write_setting_int(section, "Multicast", m.Multicast, 1);
    char address[kIpv4TextSize];
    bool isDefaultIp = m.MulticastIp == kDefaultMulticastIp;
    write_setting(section, "MulticastIp",
                  isDefaultIp ? nullptr : format_ipv4(m.MulticastIp, address));
    write_setting_int(section, "MulticastPort", m.MulticastPort, 1758);
    write_setting_int(section, "MulticastTTL", m.MulticastTTL, 1);
}

void save_pxe_from(const char* section, const PxeSettings& p) {
    write_setting_int(section, "PXE", p.PXE, 0);
    write_setting_int(section, "PXEblocksize", p.PxeBlocksize, 1432);
    write_setting_int(section, "PXEport", p.PxePort, 1759);
}

}  // namespace

std::size_t read_setting(const char* section,
                         const char* name,
                         const char* fallback,
                         char* buffer,
                         std::size_t size) {
    if (size == 0) return 0;
    std::string text;
    const char* source = fallback;
    if (platform::store_read(section, name, &text) && text.size() < size) source = text.c_str();
    std::size_t length = std::min(std::strlen(source), size - 1);
    std::memcpy(buffer, source, length);
    buffer[length] = '\0';
    return length;
}

int read_setting_int(const char* section, const char* name, int fallback) {
    char text[64];
    read_setting(section, name, "", text, sizeof text);
    int value = 0;
    return text[0] && scan_int(text, &value) ? value : fallback;
}

int write_setting(const char* section, const char* name, const char* text) {
    bool ok =
        text ? platform::store_write(section, name, text) : platform::store_delete(section, name);
    return ok ? 1 : 0;
}

int write_setting_int(const char* section, const char* name, int value, int fallback) {
    if (value == fallback) return write_setting(section, name, nullptr);
    char text[64];
    std::snprintf(text, sizeof text, "%d", value);
    return write_setting(section, name, text);
}

void load_main_settings(const char* section) {
    Settings s = current_settings();
    load_main_into(section, s.server, s.logDir);
    publish_server(s.server, s.logDir);
}

void save_main_settings(const char* section) { save_main_from(section, current_settings().server); }

void load_multicast_settings(const char* section) {
    MulticastSettings m = current_settings().multicast;
    load_multicast_into(section, m);
    publish_multicast(m);
}

void save_multicast_settings(const char* section) {
    Settings s = current_settings();
    save_multicast_from(section, s.multicast, s.server);
}

void load_pxe_settings(const char* section) {
    PxeSettings p = current_settings().pxe;
    load_pxe_into(section, p);
    publish_pxe(p);
    reset_pxe_socket(p.PxePort);
}

void save_pxe_settings(const char* section) { save_pxe_from(section, current_settings().pxe); }

int parse_ipv4_strict(const char* text, uint32_t* address) {
    const char* end = text;
    if (text[0] && scan_dotted(end, address) && *end == '\0') return 1;
    *address = 0;
    return 0;
}

const char* parse_ipv4_prefix(const char* text, uint32_t* address) {
    const char* end = text;
    if (scan_dotted(end, address)) return end;
    *address = 0;
    return nullptr;
}

char* format_ipv4(uint32_t address, char* buffer) {
    std::snprintf(buffer, kIpv4TextSize, "%u.%u.%u.%u", address & 0xFF, (address >> 8) & 0xFF,
                  (address >> 16) & 0xFF, address >> 24);
    return buffer;
}

void set_default_directory(const char* directory) {
    std::lock_guard lock(g_mutex);
    std::snprintf(g_defaultDir, sizeof g_defaultDir, "%s", directory);
}

Settings current_settings() {
    std::lock_guard lock(g_mutex);
    return g_settings;
}

int current_log_level() { return g_logLevel.load(std::memory_order_relaxed); }

void set_listen_failed(bool failed) {
    std::lock_guard lock(g_mutex);
    g_settings.server.listenFailed = failed ? 1 : 0;
}

void switch_logging_off() {
    std::lock_guard lock(g_mutex);
    g_settings.server.Log = 0;
    g_logLevel.store(0, std::memory_order_relaxed);
}

void raise_log_level(int minimum) {
    std::lock_guard lock(g_mutex);
    if (g_settings.server.Log < minimum) g_settings.server.Log = minimum;
    g_logLevel.store(g_settings.server.Log, std::memory_order_relaxed);
}

void replace_server_settings(const ServerSettings& incoming) {
    ServerSettings s = incoming;
    s.Prefix[sizeof s.Prefix - 1] = '\0';
    s.RootDirectory[sizeof s.RootDirectory - 1] = '\0';
    save_main_from(kMainSection, s);
    load_main_settings(kMainSection);
}

// The group addresses keep their value when the store holds none, and that
// value is the one just received, so the reload starts from the incoming
// record.
void replace_multicast_settings(const MulticastSettings& incoming) {
    MulticastSettings m = incoming;
    save_multicast_from(kMainSection, m, current_settings().server);
    load_multicast_into(kMainSection, m);
    publish_multicast(m);
}

void replace_pxe_settings(const PxeSettings& incoming) {
    PxeSettings p = incoming;
    save_pxe_from(kMainSection, p);
    load_pxe_into(kMainSection, p);
    publish_pxe(p);
    reset_pxe_socket(p.PxePort);
}

void reset_settings_for_testing() {
    std::lock_guard lock(g_mutex);
    g_settings = initial_settings();
    g_defaultDir[0] = '\0';
    g_logLevel.store(0, std::memory_order_relaxed);
}

void set_settings_for_testing(const Settings& settings) {
    std::lock_guard lock(g_mutex);
    g_settings = settings;
    g_logLevel.store(settings.server.Log, std::memory_order_relaxed);
}
