#include "service/host.h"

#include <atomic>
#include <cstdio>

#include "engine/server.h"
#include "log/transfer_log.h"
#include "platform/process.h"
#include "platform/store.h"
#include "platform/udp.h"
#include "service/pipe_server.h"
#include "settings/settings.h"
#include "settings/text.h"

namespace {

constexpr const char* kVersion = "1.7.2";

std::atomic<bool> g_ended{false};

// The store, the program directory (written as "Path", the default of the
// root and log directories) and the three settings groups.
void load_settings() {
    char directory[896];
    platform::program_directory(directory, sizeof directory);
    platform::store_init(directory);
    write_setting(kMainSection, "Path", directory);
    set_default_directory(directory);
    load_main_settings(kMainSection);
    load_multicast_settings(kMainSection);
    load_pxe_settings(kMainSection);
}

// "-debug" among the leading options raises the log level and logs to the
// console.
void apply_arguments(int argc, char** argv) {
    for (int i = 1; i < argc && argv[i][0] == '-'; ++i) {
        if (!iequals(argv[i], "-debug")) continue;
        raise_log_level(kLogRequests);
        set_log_console(stdout);
    }
}

}  // namespace

void print_banner() {
    Settings s = current_settings();
    const ServerSettings& m = s.server;
    log_line(kLogResults, "%s %s %s ready\n", kStamp, kProductTitle, kVersion);
    log_line(kLogRequests, "%s RootDirectory : %s\n", kStamp, m.RootDirectory);
    log_line(kLogRequests, "%s Prefix        : %s\n", kStamp, m.Prefix);
    log_line(kLogRequests, "%s def. Timeout  : %u\n", kStamp, static_cast<unsigned>(m.Timeout));
    log_line(kLogRequests, "%s max. Retries  : %u\n", kStamp, static_cast<unsigned>(m.Retransmit));
    log_line(kLogRequests, "%s max. Clients  : %u\n", kStamp, static_cast<unsigned>(m.Clients));
    log_line(kLogRequests, "%s Option eval.  : %u\n", kStamp, static_cast<unsigned>(m.Options));
    log_line(kLogRequests, "%s Upload enabled: %u\n", kStamp, static_cast<unsigned>(m.Upload));
    log_line(kLogRequests, "%s Multicast     : %u\n", kStamp,
             static_cast<unsigned>(s.multicast.Multicast));
    log_line(kLogRequests, "%s PXE-Multicast : %u\n", kStamp, static_cast<unsigned>(s.pxe.PXE));
    log_line(kLogRequests, "%s max. Window   : %u\n", kStamp,
             static_cast<unsigned>(s.maxWindowSize));
}

bool server_ended() { return g_ended.load(std::memory_order_acquire); }

int run_server(int argc, char** argv) {
    set_log_stream(stderr);
    if (!platform::start_network()) return 0;
    load_settings();
    apply_arguments(argc, argv);
    refresh_transfer_log();
    print_banner();
    start_pipe_listener();
    serve();
    close_transfer_log();
    g_ended.store(true, std::memory_order_release);
    stop_pipe_listener();
    platform::stop_network();
    return 0;
}
