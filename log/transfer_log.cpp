#include "log/transfer_log.h"

#include <cstdarg>
#include <cstring>
#include <ctime>

#include "platform/clock.h"
#include "settings/settings.h"

namespace {

std::mutex g_lock;
std::FILE* g_stream = nullptr;
std::FILE* g_console = nullptr;
char g_openName[32];  // file name (without directory) of the open log file
char g_stamp[31];
int64_t (*g_clock)() = platform::wall_seconds;

bool local_now(std::tm* now) { return platform::local_time(g_clock(), now); }

// The standard streams belong to the process, not to the log.
void close_stream_locked() {
    if (g_stream && g_stream != stdout && g_stream != stderr) std::fclose(g_stream);
    g_stream = nullptr;
    g_openName[0] = '\0';
}

bool join_path(const char* dir, const char* name, char* path, std::size_t size) {
    int n = std::snprintf(path, size, "%s%s", dir, name);
    return n >= 0 && static_cast<std::size_t>(n) < size;
}

void write_line(int level, bool flush, const char* format, va_list args) {
    if (current_log_level() < level) return;
    std::lock_guard lock(g_lock);
    if (!g_stream) return;
    // The format's leading "%s" is the timestamp; its argument is kStamp.
    (void)va_arg(args, const char*);
    std::fputs(log_timestamp(), g_stream);
    std::vfprintf(g_stream, format + 2, args);
    // The console shows every line at once, whatever its buffering (a pipe
    // under a service manager or a test is fully buffered).
    if (flush || g_stream == g_console) std::fflush(g_stream);
}

}  // namespace

std::mutex& log_lock() { return g_lock; }

std::FILE* log_stream() { return g_stream; }

void set_log_stream(std::FILE* stream) {
    std::lock_guard lock(g_lock);
    g_stream = stream;
}

void set_log_console(std::FILE* stream) {
    std::lock_guard lock(g_lock);
    g_console = stream;
    g_stream = stream;
}

void log_file_name(int daily, char* buffer, std::size_t size) {
    std::tm now{};
    if (!local_now(&now) ||
        std::strftime(buffer, size, daily ? "tftp%y%m%d.log" : "tftp%y%m.log", &now) == 0)
        std::snprintf(buffer, size, "tftp.log");
}

std::FILE* open_transfer_log(const char* logDir, int* level, int daily) {
    std::lock_guard lock(g_lock);
    if (*level <= 0) {
        if (g_stream == g_console)
            g_stream = nullptr;
        else
            close_stream_locked();
        return nullptr;
    }
    // Debug mode writes to the console from start to end, never to a file.
    if (g_console) return g_stream = g_console;
    char name[sizeof g_openName];
    log_file_name(daily, name, sizeof name);
    if (g_stream && std::strcmp(name, g_openName) == 0) return g_stream;
    close_stream_locked();
    char path[kPathSize];
    std::FILE* file = join_path(logDir, name, path, sizeof path) ? std::fopen(path, "a+") : nullptr;
    if (!file) {
        *level = 0;
        return nullptr;
    }
    g_stream = file;
    std::memcpy(g_openName, name, sizeof g_openName);
    if (*level >= kLogRequests)
        std::fprintf(file, "\n%s %s log started\n", log_timestamp(), kProductTitle);
    return file;
}

void refresh_transfer_log() {
    Settings s = current_settings();
    int level = s.server.Log;
    open_transfer_log(s.logDir, &level, s.server.CreateLog);
    if (level == 0 && s.server.Log != 0) switch_logging_off();
}

void close_transfer_log() {
    std::lock_guard lock(g_lock);
    if (g_stream == g_console)
        g_stream = nullptr;
    else
        close_stream_locked();
}

const char* log_timestamp() {
    std::tm now{};
    if (!local_now(&now) || std::strftime(g_stamp, sizeof g_stamp, "%Y-%m-%d %H:%M:%S", &now) == 0)
        std::snprintf(g_stamp, sizeof g_stamp, "0000-00-00 00:00:00");
    return g_stamp;
}

void set_log_clock(int64_t (*now)()) {
    std::lock_guard lock(g_lock);
    g_clock = now ? now : platform::wall_seconds;
}

void log_line(int level, const char* format, ...) {
    va_list args;
    va_start(args, format);
    write_line(level, false, format, args);
    va_end(args);
}

void log_result(int level, const char* format, ...) {
    va_list args;
    va_start(args, format);
    write_line(level, true, format, args);
    va_end(args);
}
