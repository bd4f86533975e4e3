#include "settings/settings.h"

#include <atomic>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>
#include <string_view>

#include "platform/store.h"
#include "settings/ipv4.h"
#include "settings/text.h"

namespace {

constexpr uint32_t kDefaultMulticastIp = 224u | (1u << 24);

// One number of a record: its name in the store, its default, the name a
// save writes it under (empty: its own; null: a save never writes it, it is
// set in the store by hand) and its field. A two-byte field keeps the low 16
// bits of the stored number.
template <typename Record>
struct NumberValue {
    const char* name;
    int32_t fallback;
    const char* savedAs;
    int32_t (*get)(const Record&);
    void (*set)(Record&, int32_t);
};

constexpr const char* kStoreOnly = nullptr;

template <auto Member>
struct FieldOf;
template <typename R, typename F, F R::*Member>
struct FieldOf<Member> {
    using Record = R;
    using Field = F;
};

template <auto Member>
constexpr auto number(const char* name, int32_t fallback, const char* savedAs = "") {
    using Record = typename FieldOf<Member>::Record;
    using Field = typename FieldOf<Member>::Field;
    return NumberValue<Record>{
        name, fallback, savedAs, [](const Record& r) { return static_cast<int32_t>(r.*Member); },
        [](Record& r, int32_t value) { r.*Member = static_cast<Field>(value); }};
}

constexpr NumberValue<ServerSettings> kServerNumbers[] = {
    number<&ServerSettings::Log>("Log", 1),
    number<&ServerSettings::CreateLog>("CreateLog", 0),
    number<&ServerSettings::Port>("Port", 69),
    number<&ServerSettings::DataPort>("DataPort", 0),
    number<&ServerSettings::Timeout>("Timeout", 1),
    number<&ServerSettings::Retransmit>("Retransmit", 10),
    number<&ServerSettings::Clients>("Clients", 10),
    number<&ServerSettings::MMF>("MMF", 1),
    number<&ServerSettings::Upload>("Upload", 1, kStoreOnly),
    number<&ServerSettings::RootIPspecific>("RootIPspecific", 0),
    number<&ServerSettings::WindowSize>("WindowSize", 0),
    number<&ServerSettings::LargeFiles>("LargeFiles", 1, kStoreOnly),
    number<&ServerSettings::Options>("Options", 7),
    number<&ServerSettings::UnixStyle>("UnixStyle", 0),
    number<&ServerSettings::AccessControl>("AccessControl", 0),
};

constexpr NumberValue<MulticastSettings> kMulticastNumbers[] = {
    number<&MulticastSettings::Multicast>("Multicast", 1),
    number<&MulticastSettings::MulticastPort>("MulticastPort", 1758),
    number<&MulticastSettings::MulticastLast>("MulticastLast", 65535, kStoreOnly),
    number<&MulticastSettings::MulticastTTL>("MulticastTTL", 1),
};

// The PXE group is saved under two other spellings; the store matches names
// without regard to case, so a save finds the value a load read.
constexpr NumberValue<PxeSettings> kPxeNumbers[] = {
    number<&PxeSettings::PXE>("PXE", 0),
    number<&PxeSettings::PxeMulticastPort>("PxeMulticastPort", 1758, kStoreOnly),
    number<&PxeSettings::PxeBlocksize>("PxeBlocksize", 1432, "PXEblocksize"),
    number<&PxeSettings::PxePort>("PxePort", 1759, "PXEport"),
};

template <typename Record, std::size_t N>
void load_numbers(const char* section, const NumberValue<Record> (&values)[N], Record& record) {
    for (const NumberValue<Record>& v : values)
        v.set(record, read_setting_int(section, v.name, v.fallback));
}

template <typename Record>
void save_number(const char* section, const NumberValue<Record>& v, const Record& record) {
    if (v.savedAs)
        write_setting_int(section, *v.savedAs ? v.savedAs : v.name, v.get(record), v.fallback);
}

template <typename Record, std::size_t N>
void save_numbers(const char* section,
                  const NumberValue<Record> (&values)[N],
                  const Record& record) {
    for (const NumberValue<Record>& v : values) save_number(section, v, record);
}

Settings initial_settings() {
    Settings s{};
    s.multicast.MulticastIp = kDefaultMulticastIp;
    s.maxWindowSize = kDefaultMaxWindowSize;
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

// "MaxWindowSize": 0 to 65535, the most a windowsize option can ask; any
// other number takes the default.
void load_window_limit(const char* section) {
    int limit = read_setting_int(section, "MaxWindowSize", kDefaultMaxWindowSize);
    if (limit < 0 || limit > 65535) limit = kDefaultMaxWindowSize;
    std::lock_guard lock(g_mutex);
    g_settings.maxWindowSize = limit;
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

// "MMFmax" is stored in MiB and held in bytes; 4096 MiB or more (compared
// unsigned, so negative values too) is no limit.
uint32_t mapping_limit(int32_t megabytes) {
    uint32_t m = static_cast<uint32_t>(megabytes);
    return m < 4096 ? m * 1048576u : 0xFFFFFFFFu;
}

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
    load_numbers(section, kServerNumbers, s);
    s.MMFmax = mapping_limit(read_setting_int(section, "MMFmax", 32));
    char address[kIpv4TextSize];
    read_setting(section, "Address", "", address, sizeof address);
    parse_ipv4_strict(address, &s.Address);
    std::string dir = default_directory();
    read_setting(section, "Prefix", "", s.Prefix, sizeof s.Prefix);
    read_setting(section, "RootDirectory", dir.c_str(), s.RootDirectory, sizeof s.RootDirectory);
    read_setting(section, "LogDir", dir.c_str(), logDir, kPathSize);
}

void load_multicast_into(const char* section, MulticastSettings& m) {
    load_numbers(section, kMulticastNumbers, m);
    load_group_address(section, "MulticastIp", &m.MulticastIp);
}

void load_pxe_into(const char* section, PxeSettings& p) {
    load_numbers(section, kPxeNumbers, p);
    load_group_address(section, "PxeMulticastIp", &p.PxeMulticastIp);
}

// A value equal to its default is deleted: the root directory when it is the
// program directory, the interface address when it is "all".
void save_main_from(const char* section, const ServerSettings& s) {
    save_numbers(section, kServerNumbers, s);
    bool isDefaultRoot = default_directory() == s.RootDirectory;
    write_setting(section, "RootDirectory", isDefaultRoot ? nullptr : s.RootDirectory);
    char address[kIpv4TextSize];
    write_setting(section, "Address", s.Address ? format_ipv4(s.Address, address) : nullptr);
}

// The multicast group's save also stores the two option settings that the
// control panel edits beside it.
void save_multicast_from(const char* section,
                         const MulticastSettings& m,
                         const ServerSettings& server) {
    for (const NumberValue<ServerSettings>& v : kServerNumbers)
        if (iequals(v.name, "Options") || iequals(v.name, "UnixStyle"))
            save_number(section, v, server);
    save_numbers(section, kMulticastNumbers, m);
    char address[kIpv4TextSize];
    bool isDefaultIp = m.MulticastIp == kDefaultMulticastIp;
    write_setting(section, "MulticastIp",
                  isDefaultIp ? nullptr : format_ipv4(m.MulticastIp, address));
}

void save_pxe_from(const char* section, const PxeSettings& p) {
    save_numbers(section, kPxeNumbers, p);
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
    load_window_limit(section);
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
}

void save_pxe_settings(const char* section) { save_pxe_from(section, current_settings().pxe); }

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
    load_window_limit(kMainSection);
}

void replace_pxe_settings(const PxeSettings& incoming) {
    PxeSettings p = incoming;
    save_pxe_from(kMainSection, p);
    load_pxe_into(kMainSection, p);
    publish_pxe(p);
    load_window_limit(kMainSection);
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
