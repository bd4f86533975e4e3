// The receive loop, and the server-wide state that the engine's threads and
// its host share: the stop and pause flags and the count of running
// transfers. The host (service/) loads the settings, opens the log and then
// runs serve().
#pragma once

#include <cstdint>

// Serves until the server is stopped: binds the listening sockets that the
// settings name, admits or refuses every request and sweeps the client list.
// Then closes the listening sockets and gives the running transfers a moment
// to end, so that their result lines reach the log.
void serve();

// Asks the server to stop: sets the stop flag and wakes the receive loop,
// which closes the listening sockets it owns. Callable from any thread.
void stop_server();

// The receive loop looks at the settings at once rather than at its next
// pass, so that a changed address or port is bound now. Callable from any
// thread; the host calls it when it has replaced settings.
void settings_changed();

// Called once the PXE settings were loaded with `newPort`: the receive loop
// closes and re-binds the PXE socket when PXE is off or its port changed.
// Returns `newPort`.
uint16_t reset_pxe_socket(uint16_t newPort);

// Stop flag: 0 running, 1 stop requested, 2 the TFTP port could not be bound
// on any address.
int stop_flag();
inline bool stopping() { return stop_flag() != 0; }

// Pause flag: while set, requests are received and dropped.
bool paused();
void set_paused(bool paused);

// Running transfers. The receive loop counts a transfer when it admits it,
// so a burst of requests can never start more than "Clients"; the worker
// releases its count when it ends.
int running_workers();
void count_worker_started();
void count_worker_ended();
