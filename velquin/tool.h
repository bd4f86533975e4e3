// What the commands of velquin share: exit statuses, messages on standard
// error, and one function per command (each in the file of its subject).
#pragma once

#include <string>

#include "velquin/command_line.h"

// Exit statuses: as service managers read them for "status", and for every
// command 0 done, 1 refused or failed, 2 a wrong command line, 3 no server
// answers.
inline constexpr int kExitDone = 0;
inline constexpr int kExitFailed = 1;
inline constexpr int kExitUsage = 2;
inline constexpr int kExitNoServer = 3;

// A change the server refused: its connection may not write.
inline constexpr const char* kNoWritePermission =
    "the server refused the change: this user has no write permission on its control pipe";

// Writes "velquin: <text>" and a line end to standard error; returns `status`.
int report_failure(int status, const std::string& text);

// The message and status for a server that cannot be reached.
int report_no_server();

// server_commands.cpp
int run_status(const CommandLine& line);
int run_transfers(const CommandLine& line);
int run_pause(const CommandLine& line);
int run_resume(const CommandLine& line);

// setting_commands.cpp
int run_get(const CommandLine& line);
int run_set(const CommandLine& line);

// access_commands.cpp
int run_access_list(const CommandLine& line);
int run_access_add(const CommandLine& line);
int run_access_remove(const CommandLine& line);
int run_access_switch(const CommandLine& line);

// pxe_commands.cpp
int run_pxe_list(const CommandLine& line);
int run_pxe_add(const CommandLine& line);
int run_pxe_remove(const CommandLine& line);

// log_commands.cpp
int run_logs(const CommandLine& line);
int run_log(const CommandLine& line);
