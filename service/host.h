// The server's run sequence: it composes the settings, the transfer log, the
// engine's receive loop and the control pipe, in that order, and takes them
// down in reverse.
#pragma once

// Runs the server until it is stopped; returns 0. `argv` is the program's
// command line ("-debug" raises the log level and logs to the console).
int run_server(int argc, char** argv);

// The start-up lines of the log.
void print_banner();

// Set once the receive loop has returned; the control pipe ends with it.
bool server_ended();
