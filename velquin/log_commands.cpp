// logs and log: the server's transfer-log files, listed and read through the
// control pipe with the server's own rights, as the log viewer reads them.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "pipeclient/pipe_client.h"
#include "rules/log_line.h"
#include "velquin/interrupt.h"
#include "velquin/tool.h"

namespace {

std::string found_name(const LogFindData& found) {
    return std::string(found.fileName, strnlen(found.fileName, sizeof found.fileName));
}

// Today's file, daily or monthly as the server's settings say.
bool todays_log_name(std::string* name) {
    ServerSettings settings{};
    if (fetch_settings(&settings) <= 0) return false;
    std::time_t now = std::time(nullptr);
    std::tm local{};
    if (const std::tm* t = std::localtime(&now)) local = *t;
    *name = current_log_name(settings.CreateLog == 1, local);
    return true;
}

// Prints the lines up to the current end of the stream. False when the
// server stopped answering or no longer knows the stream.
bool print_new_lines(PipeToken stream) {
    char line[kPipePayloadSize];
    for (;;) {
        LineRead read = log_read_line(stream, line, sizeof line);
        if (read == LineRead::kFailed) return false;
        if (read == LineRead::kEnd) break;
        std::fputs(line, stdout);
    }
    std::fflush(stdout);
    return true;
}

// After the end: the lines the server appends, once a second, until Ctrl+C.
// Without a named file the next day's (or month's) file is taken up when
// the server starts it.
int follow_log(PipeToken stream, std::string name, bool named) {
    while (wait_a_second()) {
        if (stream != 0 && !print_new_lines(stream)) return report_no_server();
        if (named) continue;
        std::string today;
        if (!todays_log_name(&today)) return report_no_server();
        if (stream != 0 && today == name) continue;
        PipeToken next = log_open(today.c_str());
        if (next == 0) continue;  // not written yet
        if (stream != 0) {
            (void)print_new_lines(stream);
            (void)log_close(stream);
        }
        stream = next;
        name = today;
        if (!print_new_lines(stream)) return report_no_server();
    }
    if (stream != 0) (void)log_close(stream);
    return kExitDone;
}

}  // namespace

int run_logs(const CommandLine&) {
    LogFindData found{};
    PipeToken search = log_find_first(&found);
    if (search == kPipeNoSearch) {
        ServerSettings settings{};
        return fetch_settings(&settings) < 0 ? report_no_server() : kExitDone;
    }
    std::vector<std::string> names;
    do {
        if (!(found.attributes & kFileAttributeDirectory)) names.push_back(found_name(found));
    } while (log_find_next(search, &found) > 0);
    (void)log_find_close(search);
    std::sort(names.begin(), names.end());
    for (const std::string& name : names) std::printf("%s\n", name.c_str());
    return kExitDone;
}

int run_log(const CommandLine& line) {
    if (line.follow) catch_interrupt();  // before the first line goes out
    bool named = !line.operands.empty();
    std::string name = named ? line.operands[0] : std::string();
    if (!named && !todays_log_name(&name)) return report_no_server();
    if (name.find_first_of("/\\:") != std::string::npos)
        return report_failure(kExitFailed, "a log file is named without a directory: " + name);
    PipeToken stream = log_open(name.c_str());
    if (stream == 0) {
        ServerSettings settings{};
        if (fetch_settings(&settings) < 0) return report_no_server();
        if (!line.follow || named)
            return report_failure(kExitFailed, "the server cannot open the log file " + name);
    }
    if (stream != 0 && !print_new_lines(stream)) return report_no_server();
    if (!line.follow) {
        (void)log_close(stream);
        return kExitDone;
    }
    return follow_log(stream, name, named);
}
