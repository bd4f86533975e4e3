// The command line of velquin: global options, a command (for "access" and
// "pxe" also an action), its operands and its flags, checked against the
// table of what each command takes. No output and no system call here.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

enum class Command {
    kNone,  // no command: the overview (or the version) is asked for
    kStatus,
    kTransfers,
    kPause,
    kResume,
    kGet,
    kSet,
    kAccessList,
    kAccessAdd,
    kAccessRemove,
    kAccessOn,
    kAccessOff,
    kPxeList,
    kPxeAdd,
    kPxeRemove,
    kLogs,
    kLog,
    kHelp,
};

// Flags a command may take.
enum CommandFlag : unsigned {
    kFlagJson = 1,
    kFlagWatch = 2,
    kFlagFollow = 4,
    kFlagAt = 8,
};

struct CommandLine {
    Command command = Command::kNone;
    std::string name;  // as typed: "status", "access add", ...
    std::vector<std::string> operands;
    bool json = false, watch = false, follow = false, help = false, version = false;
    std::optional<std::string> pipe, store;
    std::optional<unsigned> at;  // access add --at NUMBER
    std::string error;           // what is wrong with the line; empty when it is sound
};

// Reads the arguments after the program name. Options may come before or
// after the command; "--" ends them. With --help the operands are not
// checked, so that "velquin set --help" works.
CommandLine parse_command_line(const std::vector<std::string_view>& arguments);

// The usage text of a command (its name as CommandLine::name has it, or a
// command name alone for all its actions); the overview for an empty or
// unknown name.
std::string usage_text(std::string_view name);
