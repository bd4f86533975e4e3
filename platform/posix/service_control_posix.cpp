// The service on POSIX systems: the program runs in the foreground under an
// init system such as systemd, which starts it from a unit file and asks it to
// stop with SIGTERM. There is no service control manager to install into;
// error events go to syslog.
#include "platform/service_control.h"

#include <cerrno>
#include <cstring>
#include <mutex>
#include <syslog.h>

#include "platform/console.h"

namespace platform {
namespace {

// The control handler and a stop that came before it was registered. The
// signal thread and the service entry meet here.
std::mutex g_mutex;
ControlHandler g_handler = nullptr;
bool g_stopPending = false;

bool forward_as_stop(int) {
    std::unique_lock lock(g_mutex);
    ControlHandler handler = g_handler;
    g_stopPending = handler == nullptr;
    lock.unlock();
    if (handler) handler(kControlStop);
    return true;
}

// The manager calls have nothing to talk to here.
bool no_manager() {
    errno = ENOSYS;
    return false;
}

}  // namespace

bool has_service_manager() { return false; }

ServiceHandle::~ServiceHandle() = default;

ServiceHandle open_service_manager() {
    no_manager();
    return ServiceHandle();
}

ServiceHandle create_service(const ServiceHandle&, const ServiceDefinition&) {
    no_manager();
    return ServiceHandle();
}

ServiceHandle open_service(const ServiceHandle&, const char*) {
    no_manager();
    return ServiceHandle();
}

bool start_service(const ServiceHandle&) { return no_manager(); }

bool send_stop_control(const ServiceHandle&, uint32_t* state) {
    *state = 0;
    return no_manager();
}

bool query_service_state(const ServiceHandle&, uint32_t*) { return no_manager(); }
bool delete_service(const ServiceHandle&) { return no_manager(); }
int set_service_description(const ServiceHandle&, uint32_t, const char*) { return 0; }

bool run_service_dispatcher(const char* name, ServiceEntry entry) {
    install_console_handler(forward_as_stop);
    char* argv[] = {const_cast<char*>(name), nullptr};
    entry(1, argv);
    return true;
}

bool register_control_handler(const char*, ControlHandler handler) {
    std::unique_lock lock(g_mutex);
    g_handler = handler;
    bool stop = g_stopPending;
    g_stopPending = false;
    lock.unlock();
    if (stop) handler(kControlStop);
    return true;
}

// systemd follows a simple service by its process; there is nobody to tell.
bool set_service_status(const ServiceStatus&) { return true; }

void report_error_event(const char* source, const char* first, const char* second) {
    openlog(source, LOG_PID, LOG_DAEMON);
    syslog(LOG_ERR, "%s: %s", first, second);
    closelog();
}

}  // namespace platform
