// The server's run sequence and receive loop, and the server-wide state that
// the rest of the engine, the control pipe and the service wrapper share.
#pragma once

#include <cstdint>

// Runs the server until it is stopped; returns 0. `argv` is the program's
// command line ("-debug" raises the log level and logs to the console).
int run_server(int argc, char** argv);

// Asks the server to stop: sets the stop flag and wakes the receive loop,
// which closes the listening sockets it owns. Callable from any thread.
void stop_server();

// Called while the PXE settings load: the receive loop closes and re-binds
// the PXE socket when PXE is off or its port changed. Returns `newPort`.
uint16_t reset_pxe_socket(uint16_t newPort);

// The start-up lines of the log.
void print_banner();

// Stop flag: 0 running, 1 stop requested, 2 the TFTP port could not be bound
// on any address.
int stop_flag();
inline bool stopping() { return stop_flag() != 0; }

// Pause flag: while set, requests are received and dropped.
bool paused();
void set_paused(bool paused);

// Set once the run sequence has ended; the control pipe ends with it.
bool server_ended();

// Running transfers. The receive loop counts a transfer when it admits it,
// so a burst of requests can never start more than "Clients"; the worker
// releases its count when it ends.
int running_workers();
void count_worker_started();
void count_worker_ended();
