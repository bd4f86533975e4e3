#include "velquin/command_line.h"

#include <array>
#include <charconv>
#include <limits>

namespace {

constexpr std::size_t kAny = std::numeric_limits<std::size_t>::max();

struct CommandForm {
    std::string_view name;  // command, or command and action
    Command command;
    std::size_t minOperands, maxOperands;
    unsigned flags;
    std::string_view usage;  // operands and flags
    std::string_view summary;
};

constexpr std::array kCommands = {
    CommandForm{"status", Command::kStatus, 0, 0, kFlagJson, "[--json]",
                "the server's state and its number of running transfers;\n"
                "exit status 0 serving, 1 paused or unable to bind its port, 3 not running"},
    CommandForm{"transfers", Command::kTransfers, 0, 0, kFlagJson | kFlagWatch,
                "[--watch] [--json]",
                "one line per transfer; --watch redraws every second until Ctrl+C"},
    CommandForm{"pause", Command::kPause, 0, 0, 0, "", "stop serving requests"},
    CommandForm{"resume", Command::kResume, 0, 0, 0, "", "serve requests again"},
    CommandForm{"get", Command::kGet, 0, kAny, kFlagJson, "[NAME...] [--json]",
                "the server's settings as NAME=VALUE lines (all without names)"},
    CommandForm{"set", Command::kSet, 1, kAny, 0, "NAME=VALUE...",
                "change settings; nothing is sent when one value is refused"},
    CommandForm{"access list", Command::kAccessList, 0, 0, 0, "",
                "the access rules: DIRECTORY NUMBER RIGHTS RANGE"},
    CommandForm{"access add", Command::kAccessAdd, 2, 3, kFlagAt,
                "DIRECTORY RIGHTS [RANGE] [--at NUMBER]",
                "add a rule (RIGHTS of r, w, o; RANGE * or ADDRESS or FIRST-LAST)\n"
                "for DIRECTORY (%root% or a directory below the root), last or at NUMBER"},
    CommandForm{"access remove", Command::kAccessRemove, 2, 2, 0, "DIRECTORY NUMBER",
                "remove rule NUMBER of DIRECTORY; the rules after it move up"},
    CommandForm{"access on", Command::kAccessOn, 0, 0, 0, "", "apply the access rules"},
    CommandForm{"access off", Command::kAccessOff, 0, 0, 0, "", "let every request pass"},
    CommandForm{"pxe list", Command::kPxeList, 0, 0, 0, "", "the PXE file map: FILE ADDRESS PORT"},
    CommandForm{"pxe add", Command::kPxeAdd, 2, 3, 0, "FILE ADDRESS [PORT]",
                "send FILE to the group ADDRESS:PORT (0.0.0.0: the default group;\n"
                "PORT defaults to PxeMulticastPort); replaces an entry of FILE"},
    CommandForm{"pxe remove", Command::kPxeRemove, 1, 1, 0, "FILE", "remove the entry of FILE"},
    CommandForm{"logs", Command::kLogs, 0, 0, 0, "", "the server's log files"},
    CommandForm{"log", Command::kLog, 0, 1, kFlagFollow, "[FILE] [--follow]",
                "print a log file (today's by default); --follow prints new lines\n"
                "as they come until Ctrl+C"},
    CommandForm{"help", Command::kHelp, 0, 2, 0, "[COMMAND]", "the usage of a command"},
};

bool has_actions(std::string_view command) { return command == "access" || command == "pxe"; }

const CommandForm* find_form(std::string_view name) {
    for (const CommandForm& form : kCommands)
        if (form.name == name) return &form;
    return nullptr;
}

struct Flag {
    std::string_view option;
    unsigned flag;
};
constexpr std::array kFlags = {Flag{"--json", kFlagJson}, Flag{"--watch", kFlagWatch},
                               Flag{"--follow", kFlagFollow}};

// Splits "--name=value"; `value` is none without "=".
std::string_view option_name(std::string_view argument, std::optional<std::string_view>* value) {
    std::size_t equals = argument.find('=');
    if (equals == std::string_view::npos) return argument;
    *value = argument.substr(equals + 1);
    return argument.substr(0, equals);
}

std::optional<unsigned> rule_number(std::string_view text) {
    unsigned value = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || text.empty())
        return std::nullopt;
    return value;
}

class Parser {
  public:
    explicit Parser(const std::vector<std::string_view>& arguments) : arguments_(arguments) {}

    CommandLine run() {
        std::vector<std::string_view> words;
        for (index_ = 0; index_ < arguments_.size() && line_.error.empty(); ++index_) {
            std::string_view argument = arguments_[index_];
            if (argument == "--") {
                optionsEnded_ = true;
            } else if (!optionsEnded_ && argument.size() > 1 && argument[0] == '-') {
                take_option(argument);
            } else {
                words.push_back(argument);
            }
        }
        if (line_.error.empty()) take_words(words);
        return line_;
    }

  private:
    void fail(std::string error) {
        if (line_.error.empty()) line_.error = std::move(error);
    }

    // The value of an option: after "=", or the next argument.
    std::optional<std::string_view> option_value(std::string_view name,
                                                 std::optional<std::string_view> inline_value) {
        if (inline_value) return inline_value;
        if (index_ + 1 >= arguments_.size()) {
            fail(std::string(name) + " needs a value");
            return std::nullopt;
        }
        return arguments_[++index_];
    }

    void take_option(std::string_view argument) {
        std::optional<std::string_view> value;
        std::string_view name = option_name(argument, &value);
        if (name == "--help" || name == "-h") {
            line_.help = true;
        } else if (name == "--version") {
            line_.version = true;
        } else if (name == "--pipe" || name == "--store" || name == "--at") {
            take_valued_option(name, option_value(name, value));
        } else if (const Flag* flag = find_flag(name)) {
            flags_ |= flag->flag;
        } else {
            fail("unknown option " + std::string(argument));
            return;
        }
        if (value && name != "--pipe" && name != "--store" && name != "--at")
            fail(std::string(name) + " takes no value");
    }

    void take_valued_option(std::string_view name, std::optional<std::string_view> value) {
        if (!value) return;
        if (value->empty()) return fail(std::string(name) + " needs a value");
        if (name == "--pipe") {
            line_.pipe = std::string(*value);
        } else if (name == "--store") {
            line_.store = std::string(*value);
        } else if (auto number = rule_number(*value)) {
            line_.at = number;
            flags_ |= kFlagAt;
        } else {
            fail("--at needs a rule number, not " + std::string(*value));
        }
    }

    static const Flag* find_flag(std::string_view name) {
        for (const Flag& flag : kFlags)
            if (flag.option == name) return &flag;
        return nullptr;
    }

    void take_words(const std::vector<std::string_view>& words) {
        if (words.empty()) {
            if (flags_) fail("a command is missing");
            return;
        }
        std::size_t used = 1;
        std::string name(words[0]);
        if (has_actions(name)) {
            if (words.size() < 2 && !line_.help) return fail(name + " needs an action");
            if (words.size() >= 2) {
                name += " " + std::string(words[1]);
                used = 2;
            }
        }
        line_.name = name;
        for (std::size_t i = used; i < words.size(); ++i) line_.operands.emplace_back(words[i]);
        if (line_.help && has_actions(name)) return;  // "access --help"
        const CommandForm* form = find_form(name);
        if (!form) return fail("unknown command " + name);
        line_.command = form->command;
        check(*form);
    }

    void check(const CommandForm& form) {
        for (const Flag& flag : kFlags)
            if ((flags_ & flag.flag) && !(form.flags & flag.flag))
                fail(line_.name + " does not take " + std::string(flag.option));
        if ((flags_ & kFlagAt) && !(form.flags & kFlagAt)) fail(line_.name + " does not take --at");
        line_.json = flags_ & kFlagJson;
        line_.watch = flags_ & kFlagWatch;
        line_.follow = flags_ & kFlagFollow;
        if (line_.help) return;
        std::size_t count = line_.operands.size();
        if (count < form.minOperands) fail(line_.name + " needs more operands");
        if (count > form.maxOperands) fail(line_.name + " takes fewer operands");
    }

    const std::vector<std::string_view>& arguments_;
    std::size_t index_ = 0;
    bool optionsEnded_ = false;
    unsigned flags_ = 0;
    CommandLine line_;
};

void append_usage(const CommandForm& form, std::string* text) {
    *text += "  velquin " + std::string(form.name);
    if (!form.usage.empty()) *text += " " + std::string(form.usage);
    *text += "\n";
    std::string_view summary = form.summary;
    while (!summary.empty()) {
        std::size_t end = summary.find('\n');
        *text += "      " + std::string(summary.substr(0, end)) + "\n";
        summary = end == std::string_view::npos ? "" : summary.substr(end + 1);
    }
}

constexpr std::string_view kOptions =
    "Options of every command:\n"
    "  --pipe NAME   the control pipe of another server (else PRAVLEN_PIPE)\n"
    "  --store FILE  the settings store file of the server (else PRAVLEN_STORE)\n"
    "  --help        the usage of the command\n";

}  // namespace

CommandLine parse_command_line(const std::vector<std::string_view>& arguments) {
    return Parser(arguments).run();
}

std::string usage_text(std::string_view name) {
    std::string text;
    for (const CommandForm& form : kCommands)
        if (form.name == name ||
            (has_actions(name) && form.name.substr(0, name.size() + 1) == std::string(name) + " "))
            append_usage(form, &text);
    if (!text.empty()) return "Usage:\n" + text + "\n" + std::string(kOptions);
    text = "velquin: see and steer a running Velquin TFTP Server.\n\nUsage:\n";
    for (const CommandForm& form : kCommands) append_usage(form, &text);
    return text + "\n" + std::string(kOptions) + "  --version     the program's version\n";
}
