#include "service/service_wrapper.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>

#include "engine/server.h"
#include "log/transfer_log.h"
#include "platform/clock.h"
#include "platform/console.h"
#include "platform/process.h"
#include "platform/system_error.h"
#include "service/host.h"
#include "settings/text.h"

namespace {

constexpr const char* kProgramName = "Sevrock";
constexpr const char* kDescription = "Trivial File Transfer Protocol Server";
constexpr char kDependencies[] = "tcpip\0";  // the literal adds the list's second NUL
constexpr uint32_t kDescriptionLevel = 1;
constexpr uint32_t kPendingWaitMs = 3000;
constexpr int kStopPollMs = 1000;
constexpr int kStopPolls = 30;
constexpr std::size_t kErrorTextSize = 256;

// Set by "-debug" before any other thread runs: no status reports and no
// events then.
std::atomic<bool> g_debug{false};

// The control handler and the service thread both report; the lock keeps the
// record and its counter whole. The reports themselves need no lock: the
// manager sends a stop only after it has seen "running", and "stopped" follows
// the stop-pending report through the server's stop. Holding a lock across a
// report could block the control handler while the manager waits for it.
std::mutex g_statusMutex;
ServiceStatusRecord g_status;
uint32_t g_lastExitCode = 0;

platform::ServiceStatus next_status(uint32_t state, uint32_t exitCode, uint32_t waitHint) {
    std::lock_guard lock(g_statusMutex);
    g_lastExitCode = exitCode;
    return g_status.update(state, exitCode, waitHint);
}

// Console messages go out at once: the dots of a stop show progress, and a
// test or an administrator reads them while the program runs.
void say(const char* format, ...) PRAVLEN_PRINTF(1, 2);
void say(const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::vprintf(format, args);
    va_end(args);
    std::fflush(stdout);
}

// Says what failed and the system's reason: "<what> - <text> (0x<code>)".
// The reason is taken first, before anything else can change it.
void say_failed(const char* format, ...) PRAVLEN_PRINTF(1, 2);
void say_failed(const char* format, ...) {
    char error[kErrorTextSize];
    system_error_text(error, sizeof error);
    char what[kErrorTextSize];
    va_list args;
    va_start(args, format);
    std::vsnprintf(what, sizeof what, format, args);
    va_end(args);
    say("%s - %s\n", what, error);
}

void print_usage() {
    say("%s -install     to install the service\n", kProgramName);
    say("%s -remove      to remove the service\n", kProgramName);
    say("%s -debug       to run the service as a console application\n", kProgramName);
}

// Where systemd starts the program from a unit file, -install and -remove
// tell the administrator what to do instead.
void explain_unit_file_install() {
    char path[512];
    if (platform::program_path(path, sizeof path) == 0) std::strcpy(path, kProgramName);
    say("%s is started by systemd on this system; it does not install itself.\n"
        "To install it as a service (see \"Running as a service\" in the README):\n"
        "  install -m 0755 %s /usr/local/sbin/Sevrock\n"
        "  install -m 0644 packaging/sevrock.service /etc/systemd/system/\n"
        "  systemctl daemon-reload\n"
        "  systemctl enable --now sevrock\n",
        kServiceDisplayName, path);
}

void explain_unit_file_remove() {
    say("%s is started by systemd on this system; it does not remove itself.\n"
        "To remove the service:\n"
        "  systemctl disable --now sevrock\n"
        "  rm /etc/systemd/system/sevrock.service\n"
        "  systemctl daemon-reload\n",
        kServiceDisplayName);
}

// The manager splits its command line at blanks: an unquoted path such as
// C:\Program Files\Velquin\Sevrock.exe would start C:\Program.exe first.
std::string quoted(const char* path) { return std::string("\"") + path + "\""; }

void create_and_start(const platform::ServiceHandle& manager, const char* path) {
    std::string commandLine = quoted(path);
    platform::ServiceDefinition definition{kServiceName, kServiceDisplayName, commandLine.c_str(),
                                           kDependencies};
    platform::ServiceHandle service = platform::create_service(manager, definition);
    if (!service) {
        say_failed("%s service installation failed", kServiceDisplayName);
        return;
    }
    say("%s installed.\n", kServiceDisplayName);
    platform::set_service_description(service, kDescriptionLevel, kDescription);
    platform::start_service(service);
    say("%s started.\n", kServiceDisplayName);
}

// Opens the manager, or says why not.
platform::ServiceHandle open_manager() {
    platform::ServiceHandle manager = platform::open_service_manager();
    if (!manager) {
        say_failed("OpenSCManager failed");
    }
    return manager;
}

void delete_and_say(const platform::ServiceHandle& service) {
    if (platform::delete_service(service)) {
        say("%s deleted.\n", kServiceDisplayName);
        return;
    }
    say_failed("%s failed to delete service", kServiceDisplayName);
}

// The service runs while the dispatcher waits; without a service manager the
// process's exit code tells the init system whether it failed.
int dispatch_to_service(Command command) {
    if (!platform::has_service_manager()) {
        if (command == Command::kUnknown) {
            print_usage();
            return 2;
        }
        (void)platform::run_service_dispatcher(kServiceName, service_main);
        std::lock_guard lock(g_statusMutex);
        return g_lastExitCode == 0 ? 0 : 1;
    }
    print_usage();
    say("\nStartServiceCtrlDispatcher being called.\n");
    say("This may take several seconds.  Please wait.\n");
    if (!platform::run_service_dispatcher(kServiceName, service_main))
        report_error_event("StartServiceCtrlDispatcher failed.");
    return 0;
}

}  // namespace

const platform::ServiceStatus& ServiceStatusRecord::update(uint32_t state,
                                                           uint32_t exitCode,
                                                           uint32_t waitHint) {
    status_.currentState = state;
    status_.win32ExitCode = exitCode;
    status_.serviceSpecificExitCode = exitCode == platform::kServiceSpecificError ? 1 : 0;
    status_.waitHint = waitHint;
    status_.controlsAccepted = state == platform::kServiceStartPending ? 0 : platform::kAcceptStop;
    bool settled = state == platform::kServiceRunning || state == platform::kServiceStopped;
    status_.checkPoint = settled ? 0 : nextCheckpoint_++;
    return status_;
}

void format_system_error(const char* text, uint32_t code, char* buffer, std::size_t size) {
    if (size == 0) return;
    buffer[0] = '\0';
    std::size_t length = std::strlen(text);
    if (length == 0 || size < length + 14) return;
    // The system ends its texts with a line end; a text without one keeps
    // every character.
    while (length > 0 && (text[length - 1] == '\n' || text[length - 1] == '\r')) --length;
    std::snprintf(buffer, size, "%.*s (0x%x)", static_cast<int>(length), text,
                  static_cast<unsigned>(code));
}

char* system_error_text(char* buffer, std::size_t size) {
    uint32_t code = platform::last_error();
    format_system_error(platform::system_message(code).c_str(), code, buffer, size);
    return buffer;
}

Command parse_command(int argc, char** argv) {
    if (argc < 2) return Command::kRunService;
    if (iequals(argv[1], "-install")) return Command::kInstall;
    if (iequals(argv[1], "-remove")) return Command::kRemove;
    if (iequals(argv[1], "-debug")) return Command::kDebug;
    return Command::kUnknown;
}

int service_dispatch(int argc, char** argv) {
    Command command = parse_command(argc, argv);
    switch (command) {
        case Command::kInstall:
            install_service();
            return 0;
        case Command::kRemove:
            remove_service();
            return 0;
        case Command::kDebug:
            g_debug = true;
            run_in_console(argc, argv);
            return 0;
        case Command::kRunService:
        case Command::kUnknown:
            break;
    }
    return dispatch_to_service(command);
}

void install_service() {
    if (!platform::has_service_manager()) return explain_unit_file_install();
    char path[512];
    if (platform::program_path(path, sizeof path) == 0) {
        say_failed("Unable to install %s", kServiceDisplayName);
        return;
    }
    platform::ServiceHandle manager = open_manager();
    if (manager) create_and_start(manager, path);
}

void remove_service() {
    if (!platform::has_service_manager()) return explain_unit_file_remove();
    platform::ServiceHandle manager = open_manager();
    if (!manager) return;
    platform::ServiceHandle service = platform::open_service(manager, kServiceName);
    if (!service) {
        say_failed("%s failed to access service", kServiceDisplayName);
        return;
    }
    stop_service_and_wait(service);
    delete_and_say(service);
}

int stop_service_and_wait(const platform::ServiceHandle& service) {
    uint32_t state = 0;
    if (platform::send_stop_control(service, &state)) {
        say("Stopping %s.", kServiceDisplayName);
        platform::sleep_ms(kStopPollMs);
        for (int polls = 0; polls < kStopPolls && platform::query_service_state(service, &state) &&
                            state == platform::kServiceStopPending;
             ++polls) {
            say(".");
            platform::sleep_ms(kStopPollMs);
        }
    }
    if (state == platform::kServiceStopped) {
        say("\n%s stopped.\n", kServiceDisplayName);
        return 1;
    }
    say("\n%s failed to stop.\n", kServiceDisplayName);
    return 0;
}

void run_in_console(int argc, char** argv) {
    say("Debugging %s.\n", kServiceDisplayName);
    platform::install_console_handler(console_control_handler);
    start_and_run(argc, argv);
}

bool console_control_handler(int event) {
    if (event != platform::kConsoleCtrlC && event != platform::kConsoleCtrlBreak) return false;
    say("Stopping %s.\n", kServiceDisplayName);
    request_stop();
    return true;
}

void service_main(int argc, char** argv) {
    if (!platform::register_control_handler(kServiceName, service_control_handler)) return;
    // A server that could not start, or ended without being asked to, is a
    // failure the manager must see in the exit code.
    bool failed = report_service_status(platform::kServiceStartPending, 0, kPendingWaitMs) &&
                  !start_and_run(argc, argv);
    report_service_status(platform::kServiceStopped, failed ? platform::kServiceSpecificError : 0,
                          0);
}

void service_control_handler(uint32_t control) {
    if (control != platform::kControlStop && control != platform::kControlShutdown) return;
    request_stop();
}

bool start_and_run(int argc, char** argv) {
    if (report_service_status(platform::kServiceStartPending, 0, kPendingWaitMs) &&
        report_service_status(platform::kServiceRunning, 0, 0) && run_server(argc, argv) == 0 &&
        stop_flag() == 1)
        return true;
    report_error_event("Unable to start service");
    return false;
}

// Stop pending goes out before the server is told to stop: the service thread
// reports stopped as soon as the server ends, and a pending report after it
// would leave the manager waiting for a stop that has already happened.
void request_stop() {
    report_service_status(platform::kServiceStopPending, 0, kPendingWaitMs);
    stop_server();
}

bool report_service_status(uint32_t state, uint32_t exitCode, uint32_t waitHint) {
    if (g_debug) return true;
    bool reported = platform::set_service_status(next_status(state, exitCode, waitHint));
    if (!reported) report_error_event("SetServiceStatus");
    return reported;
}

void report_error_event(const char* message) {
    if (g_debug) return;
    uint32_t code = platform::last_error();
    char text[64];
    std::snprintf(text, sizeof text, "%s error: %d", kServiceName, static_cast<int>(code));
    platform::report_error_event(kServiceName, text, message);
}
