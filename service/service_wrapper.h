// The program's entry: the command line, installing and removing the
// service, the service entry with its status reports and control handler,
// debug mode in the console, and error events. In every mode the work is the
// server's run sequence, which this module starts and stops.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/service_control.h"

inline constexpr const char* kServiceName = "TFTPService";
inline constexpr const char* kServiceDisplayName = "TFTP Server";

// The program's main function. Returns the process's exit code: 0, except on
// systems without a service manager, where a service run that failed gives 1
// and an unknown option 2.
int service_dispatch(int argc, char** argv);

// What the first argument asks for, compared without regard to case; later
// arguments are never looked at.
enum class Command { kRunService, kInstall, kRemove, kDebug, kUnknown };
Command parse_command(int argc, char** argv);

void install_service();
void remove_service();
// Stops the service and waits up to about 31 s; 1 when it stopped.
int stop_service_and_wait(const platform::ServiceHandle& service);

void run_in_console(int argc, char** argv);
bool console_control_handler(int event);

void service_main(int argc, char** argv);
void service_control_handler(uint32_t control);
// Reports the service as running and runs the server until it stops. False
// (after an error event) when a report failed or the server ended without
// being asked to, for example because its port could not be bound.
bool start_and_run(int argc, char** argv);
void request_stop();

// Sends the service's status to the manager; always succeeds in debug mode.
bool report_service_status(uint32_t state, uint32_t exitCode, uint32_t waitHint);
// Writes "<message>" with "TFTPService error: <last error>" to the event log
// (syslog elsewhere); nothing in debug mode.
void report_error_event(const char* message);
// The text of the calling thread's last error as "<text> (0x<code>)", or an
// empty buffer when there is none or it does not fit.
char* system_error_text(char* buffer, std::size_t size);

// The status record and its checkpoint counter: the counter starts at 1 and
// only grows; running and stopped carry checkpoint 0. No control is accepted
// while the start is pending, stop only otherwise.
class ServiceStatusRecord {
  public:
    const platform::ServiceStatus& update(uint32_t state, uint32_t exitCode, uint32_t waitHint);

  private:
    platform::ServiceStatus status_{platform::kServiceOwnProcess};
    uint32_t nextCheckpoint_ = 1;
};

// "%s (0x%x)" of a system text without its line end, into `buffer`; empty
// when the text is empty or the buffer is shorter than the text + 14.
void format_system_error(const char* text, uint32_t code, char* buffer, std::size_t size);
