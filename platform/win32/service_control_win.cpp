// The service control manager, the dispatcher, the event log and system
// message texts of Windows.
#include "platform/service_control.h"

#include <cstddef>
#include <memory>
#include <type_traits>

#include <windows.h>

namespace platform {
namespace {

static_assert(sizeof(ServiceStatus) == sizeof(SERVICE_STATUS));
static_assert(offsetof(ServiceStatus, waitHint) == offsetof(SERVICE_STATUS, dwWaitHint));
static_assert(kServiceStopped == SERVICE_STOPPED && kServiceStartPending == SERVICE_START_PENDING &&
              kServiceStopPending == SERVICE_STOP_PENDING && kServiceRunning == SERVICE_RUNNING);
static_assert(kControlStop == SERVICE_CONTROL_STOP && kControlShutdown == SERVICE_CONTROL_SHUTDOWN);
static_assert(kAcceptStop == SERVICE_ACCEPT_STOP &&
              kServiceOwnProcess == SERVICE_WIN32_OWN_PROCESS);
static_assert(kServiceSpecificError == ERROR_SERVICE_SPECIFIC_ERROR);

SC_HANDLE sc(const ServiceHandle& handle) { return static_cast<SC_HANDLE>(handle.get()); }

// The dispatcher and the manager call plain WINAPI functions; these hold the
// portable entry points they forward to. Set once, before the calls that use
// them.
ServiceEntry g_entry = nullptr;
ControlHandler g_handler = nullptr;
SERVICE_STATUS_HANDLE g_statusHandle = nullptr;

void WINAPI service_entry(DWORD argc, LPSTR* argv) { g_entry(static_cast<int>(argc), argv); }
void WINAPI control_entry(DWORD control) { g_handler(control); }

struct LibraryCloser {
    void operator()(HMODULE library) const { FreeLibrary(library); }
};
using Library = std::unique_ptr<std::remove_pointer_t<HMODULE>, LibraryCloser>;

struct EventSourceCloser {
    void operator()(HANDLE source) const { DeregisterEventSource(source); }
};
using EventSource = std::unique_ptr<std::remove_pointer_t<HANDLE>, EventSourceCloser>;

}  // namespace

bool has_service_manager() { return true; }

ServiceHandle::~ServiceHandle() {
    if (handle_) CloseServiceHandle(static_cast<SC_HANDLE>(handle_));
}

ServiceHandle open_service_manager() {
    return ServiceHandle(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
}

ServiceHandle create_service(const ServiceHandle& manager, const ServiceDefinition& definition) {
    return ServiceHandle(CreateServiceA(
        sc(manager), definition.name, definition.displayName, SERVICE_ALL_ACCESS,
        SERVICE_WIN32_OWN_PROCESS, SERVICE_AUTO_START, SERVICE_ERROR_NORMAL, definition.commandLine,
        nullptr, nullptr, definition.dependencies, nullptr, nullptr));
}

ServiceHandle open_service(const ServiceHandle& manager, const char* name) {
    return ServiceHandle(OpenServiceA(sc(manager), name, SERVICE_ALL_ACCESS));
}

bool start_service(const ServiceHandle& service) {
    return StartServiceA(sc(service), 0, nullptr) != FALSE;
}

bool send_stop_control(const ServiceHandle& service, uint32_t* state) {
    SERVICE_STATUS status{};
    BOOL sent = ControlService(sc(service), SERVICE_CONTROL_STOP, &status);
    *state = status.dwCurrentState;
    return sent != FALSE;
}

bool query_service_state(const ServiceHandle& service, uint32_t* state) {
    SERVICE_STATUS status{};
    if (!QueryServiceStatus(sc(service), &status)) return false;
    *state = status.dwCurrentState;
    return true;
}

bool delete_service(const ServiceHandle& service) { return DeleteService(sc(service)) != FALSE; }

int set_service_description(const ServiceHandle& service,
                            uint32_t infoLevel,
                            const char* description) {
    using ChangeConfig2 = BOOL(WINAPI*)(SC_HANDLE, DWORD, LPVOID);
    Library advapi(LoadLibraryA("advapi32.dll"));
    if (!advapi) return 0;
    // Casting through void (*)() tells the compiler the type is known.
    auto change = reinterpret_cast<ChangeConfig2>(
        reinterpret_cast<void (*)()>(GetProcAddress(advapi.get(), "ChangeServiceConfig2A")));
    if (!change) return 0;
    SERVICE_DESCRIPTIONA info{const_cast<char*>(description)};
    change(sc(service), infoLevel, &info);
    return 1;
}

bool run_service_dispatcher(const char* name, ServiceEntry entry) {
    g_entry = entry;
    SERVICE_TABLE_ENTRYA table[] = {{const_cast<char*>(name), service_entry}, {nullptr, nullptr}};
    return StartServiceCtrlDispatcherA(table) != FALSE;
}

bool register_control_handler(const char* name, ControlHandler handler) {
    g_handler = handler;
    g_statusHandle = RegisterServiceCtrlHandlerA(name, control_entry);
    return g_statusHandle != nullptr;
}

bool set_service_status(const ServiceStatus& status) {
    SERVICE_STATUS record{status.serviceType,
                          status.currentState,
                          status.controlsAccepted,
                          status.win32ExitCode,
                          status.serviceSpecificExitCode,
                          status.checkPoint,
                          status.waitHint};
    return SetServiceStatus(g_statusHandle, &record) != FALSE;
}

void report_error_event(const char* source, const char* first, const char* second) {
    EventSource events(RegisterEventSourceA(nullptr, source));
    if (!events) return;
    const char* strings[2] = {first, second};
    ReportEventA(events.get(), EVENTLOG_ERROR_TYPE, 0, 0, nullptr, 2, 0, strings, nullptr);
}

}  // namespace platform
