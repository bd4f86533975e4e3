// The commands that read or steer the running server: status, transfers,
// pause and resume.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "pipeclient/pipe_client.h"
#include "platform/console.h"
#include "velquin/interrupt.h"
#include "velquin/report.h"
#include "velquin/tool.h"

namespace {

// The longest list a poll walks: more records than any server keeps.
constexpr int32_t kMostTransfers = 65536;

// The settings (for the port, address and root), the pause state and the
// running count. False when the server does not answer.
bool read_state(ServerState* state) {
    int32_t paused = 0;
    if (fetch_settings(&state->settings) <= 0) return false;
    if (set_pause(kPipeReportOnly, &paused) <= 0) return false;
    state->settings.RootDirectory[sizeof state->settings.RootDirectory - 1] = '\0';
    state->paused = paused != 0;
    state->reachable = fetch_transfer(0, nullptr, &state->running) > 0;
    return state->reachable;
}

// Every transfer the server lists, as the panel's poll walks them. False
// when the server stopped answering.
bool read_transfers(const std::string& root, std::vector<TransferLine>* lines) {
    lines->clear();
    for (int32_t index = 0; index < kMostTransfers; ++index) {
        TransferSession session{};
        int32_t running = 0;
        int result = fetch_transfer(index, &session, &running);
        if (result < 0) return false;
        if (result != 2) return true;
        lines->push_back(transfer_line(session, root));
    }
    return true;
}

int print_transfers_once(const CommandLine& line) {
    ServerState state;
    std::vector<TransferLine> lines;
    if (!read_state(&state) || !read_transfers(state.settings.RootDirectory, &lines))
        return report_no_server();
    std::fputs(transfers_report(lines, line.json).c_str(), stdout);
    return kExitDone;
}

// Like top: the screen cleared, the state and the transfers, every second;
// output that is no terminal gets the pictures one after another. JSON goes
// out as one array a line, for a reader that takes lines.
int watch_transfers(const CommandLine& line) {
    const std::string start = platform::terminal_takes_sequences() ? "\x1b[H\x1b[2J" : "\n";
    do {
        ServerState state;
        std::vector<TransferLine> lines;
        bool answered = read_state(&state) && read_transfers(state.settings.RootDirectory, &lines);
        std::string text =
            line.json ? transfers_report(lines, true)
                      : start + status_report(state, false) + "\n" + transfers_report(lines, false);
        if (!answered && line.json) text = "[]\n";
        std::fputs(text.c_str(), stdout);
        std::fflush(stdout);
    } while (wait_a_second());
    return kExitDone;
}

int change_pause(int32_t action) {
    int32_t paused = 0;
    int result = set_pause(action, &paused);
    if (result < 0) return report_no_server();
    if (result == 0) return report_failure(kExitFailed, "the server refused the request");
    if ((paused != 0) != (action == kPipePauseServing))
        return report_failure(kExitFailed, kNoWritePermission);
    return kExitDone;
}

}  // namespace

int run_status(const CommandLine& line) {
    ServerState state;
    if (!read_state(&state)) state = ServerState{};
    std::fputs(status_report(state, line.json).c_str(), stdout);
    if (!state.reachable) return kExitNoServer;
    return state.paused || state.settings.listenFailed ? kExitFailed : kExitDone;
}

int run_transfers(const CommandLine& line) {
    if (!line.watch) return print_transfers_once(line);
    catch_interrupt();
    return watch_transfers(line);
}

int run_pause(const CommandLine&) { return change_pause(kPipePauseServing); }

int run_resume(const CommandLine&) { return change_pause(kPipeResume); }
