// velquin: the command-line control tool of the Velquin TFTP Server.
#include <array>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "pipeclient/pipe_client.h"
#include "platform/pipe.h"
#include "platform/process.h"
#include "platform/store.h"
#include "velquin/command_line.h"
#include "velquin/tool.h"

namespace {

// The store of the Debian package, which its unit hands to the server.
constexpr const char* kPackageStore = "/etc/velquin/Pravlen.reg";

struct Handler {
    Command command;
    int (*run)(const CommandLine&);
};

constexpr std::array kHandlers = {
    Handler{Command::kStatus, run_status},
    Handler{Command::kTransfers, run_transfers},
    Handler{Command::kPause, run_pause},
    Handler{Command::kResume, run_resume},
    Handler{Command::kGet, run_get},
    Handler{Command::kSet, run_set},
    Handler{Command::kAccessList, run_access_list},
    Handler{Command::kAccessAdd, run_access_add},
    Handler{Command::kAccessRemove, run_access_remove},
    Handler{Command::kAccessOn, run_access_switch},
    Handler{Command::kAccessOff, run_access_switch},
    Handler{Command::kPxeList, run_pxe_list},
    Handler{Command::kPxeAdd, run_pxe_add},
    Handler{Command::kPxeRemove, run_pxe_remove},
    Handler{Command::kLogs, run_logs},
    Handler{Command::kLog, run_log},
};

std::string g_pipeName;

// The store the server uses: --store, else PRAVLEN_STORE, else as the
// programs choose it (the registry on Windows, Pravlen.reg beside the
// program elsewhere). An installed Linux tool has no store beside it and
// takes the package's.
void choose_store(const CommandLine& line) {
    if (line.store) return platform::store_use_file(*line.store);
    char directory[1024];
    std::size_t length = platform::program_directory(directory, sizeof directory);
    const char* variable = std::getenv("PRAVLEN_STORE");
    std::error_code ignored;
    bool unset = !variable || !*variable;
    bool besideProgram =
        std::filesystem::exists(std::string(directory, length) + "Pravlen.reg", ignored);
    if (unset && platform::path_separator() == '/' && !besideProgram &&
        std::filesystem::exists(kPackageStore, ignored))
        return platform::store_use_file(kPackageStore);
    platform::store_init(directory);
}

int print_usage(std::string_view name, std::FILE* stream) {
    std::fputs(usage_text(name).c_str(), stream);
    return stream == stdout ? kExitDone : kExitUsage;
}

int run(const CommandLine& line) {
    if (line.version) {
        std::printf("velquin %s\n", VELQUIN_VERSION);
        return kExitDone;
    }
    if (line.help) return print_usage(line.name, stdout);
    if (line.command == Command::kNone) return print_usage("", stderr);
    if (line.command == Command::kHelp) {
        std::string name;
        for (const std::string& word : line.operands) name += (name.empty() ? "" : " ") + word;
        return print_usage(name, stdout);
    }
    if (line.pipe) {
        g_pipeName = *line.pipe;
        set_pipe_name(g_pipeName);
    }
    choose_store(line);
    for (const Handler& handler : kHandlers)
        if (handler.command == line.command) return handler.run(line);
    return print_usage("", stderr);
}

}  // namespace

int report_failure(int status, const std::string& text) {
    std::fprintf(stderr, "velquin: %s\n", text.c_str());
    return status;
}

int report_no_server() {
    std::string name = g_pipeName.empty() ? platform::control_pipe_name() : g_pipeName;
    return report_failure(kExitNoServer, "no server answers on the control pipe " + name);
}

int main(int argc, char** argv) {
    std::vector<std::string_view> arguments(argv + 1, argv + argc);
    CommandLine line = parse_command_line(arguments);
    if (!line.error.empty()) {
        report_failure(kExitUsage, line.error);
        std::fputs("Try \"velquin --help\".\n", stderr);
        return kExitUsage;
    }
    int status = run(line);
    pipe_close();
    return status;
}
