#include "tests/integration/velquin_process.h"

#include <chrono>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>


namespace {

std::string windows_velquin() { return std::string(SEVROCK_WINDOWS_DIR) + "/velquin.exe"; }

std::vector<std::string> command(Target target,
                                 const std::vector<std::string>& args,
                                 bool asNobody) {
    std::vector<std::string> argv;
    if (target == Target::kNative && asNobody) {
        argv = {"/usr/bin/setpriv", "--reuid=65534", "--regid=65534", "--clear-groups",
                VELQUIN_NATIVE};
    } else if (target == Target::kNative) {
        argv.push_back(VELQUIN_NATIVE);
    } else {
        argv = {std::string(SEVROCK_WINDOWS_DIR) + "/wine-run", "--exec", windows_velquin()};
    }
    argv.insert(argv.end(), args.begin(), args.end());
    return argv;
}

// The environment without PRAVLEN_ values, plus the server's pipe and store.
// The leak check of the sanitizers cannot run in a process that changed its
// user.
std::vector<std::string> environment(ServerProcess& server, bool asNobody) {
    std::vector<std::string> env = environment_without_pravlen();
    env.push_back("PRAVLEN_PIPE=" + server.pipe_name());
    env.push_back("PRAVLEN_STORE=" + server.program_path(server.store(), false));
    if (asNobody) env.push_back("ASAN_OPTIONS=detect_leaks=0");
    return env;
}

// The Windows tool writes its lines in text mode (CR LF).
void append_without_cr(std::string* text, const char* bytes, ssize_t n) {
    for (ssize_t i = 0; i < n; ++i)
        if (bytes[i] != '\r') *text += bytes[i];
}

}  // namespace

bool velquin_available(Target target) {
    if (target == Target::kNative) return std::filesystem::exists(VELQUIN_NATIVE);
    return std::filesystem::exists(windows_velquin());
}

VelquinProcess::VelquinProcess(ServerProcess& server,
                               const std::vector<std::string>& args,
                               bool asNobody) {
    int out[2], err[2];
    if (pipe2(out, O_CLOEXEC) != 0) return;
    if (pipe2(err, O_CLOEXEC) != 0) {
        close(out[0]);
        close(out[1]);
        return;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_adddup2(&actions, err[1], 2);
    std::vector<std::string> argv = command(server.target(), args, asNobody);
    std::vector<std::string> env = environment(server, asNobody);
    std::vector<char*> cargv = c_strings(argv), cenv = c_strings(env);
    if (posix_spawn(&pid_, cargv[0], &actions, nullptr, cargv.data(), cenv.data()) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    close(err[1]);
    reader_ = std::thread([this, o = out[0], e = err[0]] { read_output(o, e); });
}

VelquinProcess::~VelquinProcess() {
    if (pid_ > 0 && status_ < 0) finish(0);
    stopReading_ = true;
    if (reader_.joinable()) reader_.join();
}

VelquinProcess::Result VelquinProcess::run(ServerProcess& server,
                                           const std::vector<std::string>& args,
                                           bool asNobody) {
    VelquinProcess process(server, args, asNobody);
    return process.finish(60000);
}

// Polls, so that the reader can be stopped even when a helper process of
// Wine keeps a pipe's write end open after the tool ended.
void VelquinProcess::read_output(int out, int err) {
    pollfd fds[2] = {{out, POLLIN, 0}, {err, POLLIN, 0}};
    int open = 2;
    while (!stopReading_ && open > 0) {
        if (poll(fds, 2, 100) <= 0) continue;
        for (pollfd& p : fds) {
            if (p.fd < 0 || !(p.revents & (POLLIN | POLLHUP))) continue;
            char buffer[4096];
            ssize_t n = read(p.fd, buffer, sizeof buffer);
            if (n <= 0) {
                close(p.fd);
                p.fd = -1;
                --open;
                continue;
            }
            std::lock_guard lock(mutex_);
            append_without_cr(p.fd == out ? &out_ : &err_, buffer, n);
            changed_.notify_all();
        }
    }
    for (pollfd& p : fds)
        if (p.fd >= 0) close(p.fd);
    readerEnded_ = true;
}

bool VelquinProcess::wait_for(const std::string& text, int timeoutMs) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                             [&] { return out_.find(text) != std::string::npos; });
}

void VelquinProcess::interrupt() {
    if (pid_ > 0) kill(pid_, SIGINT);
}

VelquinProcess::Result VelquinProcess::finish(int timeoutMs) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    int status = 0;
    while (pid_ > 0 && status_ < 0) {
        pid_t r = waitpid(pid_, &status, WNOHANG);
        if (r == pid_) {
            status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            break;
        }
        if (std::chrono::steady_clock::now() > deadline) {
            kill(pid_, SIGKILL);
            waitpid(pid_, &status, 0);
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    // The output may still be on its way through the pipes.
    auto drained = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    while (!readerEnded_ && std::chrono::steady_clock::now() < drained)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    stopReading_ = true;
    if (reader_.joinable()) reader_.join();
    std::lock_guard lock(mutex_);
    return Result{status_, out_, err_};
}
