// The operating system's side of running as a service: the service control
// manager, its dispatcher and status reports, the error event log and the
// system's texts for error codes.
//
// On Windows the program installs itself into the service control manager,
// which later starts it without arguments through the dispatcher. Elsewhere
// there is no such manager: an init system such as systemd starts the program
// from a unit file, the "dispatcher" runs the service entry in the foreground
// and turns SIGTERM and SIGINT into the stop control, and error events go to
// syslog.
#pragma once

#include <cstdint>
#include <string>
#include <utility>

namespace platform {

// Whether the program can install itself as a service (Windows).
bool has_service_manager();

// The record the service control manager keeps of a running service; field
// for field the platform's SERVICE_STATUS.
struct ServiceStatus {
    uint32_t serviceType = 0;
    uint32_t currentState = 0;
    uint32_t controlsAccepted = 0;
    uint32_t win32ExitCode = 0;
    uint32_t serviceSpecificExitCode = 0;
    uint32_t checkPoint = 0;
    uint32_t waitHint = 0;
};

// The manager's numbers, the same on every platform.
inline constexpr uint32_t kServiceOwnProcess = 0x10;
enum ServiceState : uint32_t {
    kServiceStopped = 1,
    kServiceStartPending = 2,
    kServiceStopPending = 3,
    kServiceRunning = 4,
};
enum ServiceControl : uint32_t {
    kControlStop = 1,
    kControlShutdown = 5,
};
inline constexpr uint32_t kAcceptStop = 1;
// The exit code that says "see the service-specific exit code".
inline constexpr uint32_t kServiceSpecificError = 1066;

// An open handle to the service control manager or to one service, closed
// when it goes out of scope. Empty when the call that made it failed.
class ServiceHandle {
  public:
    ServiceHandle() = default;
    explicit ServiceHandle(void* handle) : handle_(handle) {}
    ~ServiceHandle();
    ServiceHandle(ServiceHandle&& other) noexcept
        : handle_(std::exchange(other.handle_, nullptr)) {}
    ServiceHandle& operator=(ServiceHandle&&) = delete;

    explicit operator bool() const { return handle_ != nullptr; }
    void* get() const { return handle_; }

  private:
    void* handle_ = nullptr;
};

// What the manager is told about a new service: it runs in a process of its
// own, starts automatically with the system, under the local system account.
struct ServiceDefinition {
    const char* name;
    const char* displayName;
    const char* commandLine;   // the program's path, quoted
    const char* dependencies;  // names, each ended by a NUL, the list by another
};

// The manager calls. Each leaves the platform's last error set when it fails,
// for system_message. All access rights are full access.
[[nodiscard]] ServiceHandle open_service_manager();
[[nodiscard]] ServiceHandle create_service(const ServiceHandle& manager,
                                           const ServiceDefinition& definition);
[[nodiscard]] ServiceHandle open_service(const ServiceHandle& manager, const char* name);
bool start_service(const ServiceHandle& service);
// Sends the stop control. *state receives the state the manager reported with
// its answer, also when the control failed (0 when it reported none).
bool send_stop_control(const ServiceHandle& service, uint32_t* state);
bool query_service_state(const ServiceHandle& service, uint32_t* state);
bool delete_service(const ServiceHandle& service);

// Sets the service's description (information level 1) through
// ChangeServiceConfig2A, looked up in advapi32.dll by name. Returns 1 when
// that function exists, whatever it answered, and 0 when it is missing.
int set_service_description(const ServiceHandle& service,
                            uint32_t infoLevel,
                            const char* description);

using ServiceEntry = void (*)(int argc, char** argv);
using ControlHandler = void (*)(uint32_t control);

// Connects the process to the service dispatcher, which calls `entry` on a
// thread of its own and returns when the service has stopped. False when the
// program was not started by the manager. Elsewhere it calls `entry` on the
// calling thread, with SIGTERM and SIGINT delivered as the stop control; call
// it before the process starts any other thread.
[[nodiscard]] bool run_service_dispatcher(const char* name, ServiceEntry entry);

// Registers the handler of the manager's controls; status reports go to the
// service registered here.
[[nodiscard]] bool register_control_handler(const char* name, ControlHandler handler);
[[nodiscard]] bool set_service_status(const ServiceStatus& status);

// Writes one error event with two strings under the event source `source`
// (syslog's identity elsewhere).
void report_error_event(const char* source, const char* first, const char* second);

}  // namespace platform
