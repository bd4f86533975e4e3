#include "tests/integration/pipe_driver_process.h"

#include <chrono>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>


namespace {

std::vector<std::string> driver_command(Target target, bool asNobody, const std::string& groups) {
    if (target == Target::kWine) {
        std::string dir = SEVROCK_WINDOWS_DIR;
        return {dir + "/wine-run", "--exec", dir + "/pipe_driver.exe"};
    }
    if (!asNobody) return {PIPE_DRIVER_NATIVE};
    std::string groupOption = groups.empty() ? "--clear-groups" : "--groups=" + groups;
    return {"/usr/bin/setpriv", "--reuid=65534", "--regid=65534", groupOption, PIPE_DRIVER_NATIVE};
}

// The environment without PRAVLEN_ values, plus the pipe's name. The leak
// check of the sanitizers cannot run in a process that changed its user.
std::vector<std::string> driver_environment(const std::string& pipeName, bool asNobody) {
    std::vector<std::string> env = environment_without_pravlen();
    env.push_back("PRAVLEN_PIPE=" + pipeName);
    if (asNobody) env.push_back("ASAN_OPTIONS=detect_leaks=0");
    return env;
}

}  // namespace

PipeDriver::PipeDriver(Target target,
                       const std::string& pipeName,
                       bool asNobody,
                       const std::string& groups) {
    int in[2], out[2];
    if (pipe2(in, O_CLOEXEC) != 0) return;
    if (pipe2(out, O_CLOEXEC) != 0) {
        close(in[0]);
        close(in[1]);
        return;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in[0], 0);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    std::vector<std::string> argv = driver_command(target, asNobody, groups);
    std::vector<std::string> env = driver_environment(pipeName, asNobody);
    std::vector<char*> cargv = c_strings(argv), cenv = c_strings(env);
    if (posix_spawn(&pid_, cargv[0], &actions, nullptr, cargv.data(), cenv.data()) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
    close(in[0]);
    close(out[1]);
    toDriver_ = in[1];
    fromDriver_ = out[0];
}

PipeDriver::~PipeDriver() {
    if (toDriver_ >= 0) {
        (void)!write(toDriver_, "quit\n", 5);
        close(toDriver_);
    }
    if (pid_ > 0) {
        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        int status = 0;
        while (waitpid(pid_, &status, WNOHANG) == 0) {
            if (std::chrono::steady_clock::now() > deadline) {
                kill(pid_, SIGKILL);
                waitpid(pid_, &status, 0);
                break;
            }
            usleep(20000);
        }
    }
    if (fromDriver_ >= 0) close(fromDriver_);
}

std::string PipeDriver::call(const std::string& command, int timeoutMs) {
    std::string line = command + "\n";
    if (write(toDriver_, line.data(), line.size()) != static_cast<ssize_t>(line.size()))
        return "write failed";
    std::string answer;
    return read_line(&answer, timeoutMs) ? answer : "timed out";
}

// The Windows driver writes its lines in text mode (CR LF).
bool PipeDriver::read_line(std::string* line, int timeoutMs) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        std::size_t end = pending_.find('\n');
        if (end != std::string::npos) {
            *line = pending_.substr(0, end);
            pending_.erase(0, end + 1);
            if (!line->empty() && line->back() == '\r') line->pop_back();
            return true;
        }
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        pollfd p{fromDriver_, POLLIN, 0};
        if (left.count() <= 0 || poll(&p, 1, static_cast<int>(left.count())) <= 0) return false;
        char buffer[4096];
        ssize_t n = read(fromDriver_, buffer, sizeof buffer);
        if (n <= 0) return false;
        pending_.append(buffer, static_cast<std::size_t>(n));
    }
}
