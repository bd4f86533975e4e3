#include "tests/integration/server_process.h"

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <fstream>
#include <iterator>
#include <optional>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include "platform/reg_file.h"
#include "platform/udp.h"
#include "tests/integration/tftp_client.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;
constexpr uint32_t kLoopback = 127u | (1u << 24);

std::string windows_dir() { return SEVROCK_WINDOWS_DIR; }

int next_instance() {
    static std::atomic<int> counter{0};
    return counter++;
}

}  // namespace

std::string escape_reg(const std::string& text) {
    std::string out;
    for (char c : text) {
        if (c == '\\' || c == '"') out += '\\';
        out += c;
    }
    return out;
}

std::vector<std::string> environment_without_pravlen() {
    std::vector<std::string> env;
    for (char** e = environ; *e; ++e)
        if (std::strncmp(*e, "PRAVLEN_", 8) != 0) env.emplace_back(*e);
    return env;
}

std::vector<char*> c_strings(std::vector<std::string>& strings) {
    std::vector<char*> out;
    for (std::string& s : strings) out.push_back(s.data());
    out.push_back(nullptr);
    return out;
}

bool target_available(Target target) {
    if (target == Target::kNative) return fs::exists(SEVROCK_NATIVE);
    return fs::exists(windows_dir() + "/Sevrock.exe") && fs::exists(windows_dir() + "/wine-run");
}

std::string target_name(Target target) { return target == Target::kNative ? "Native" : "Wine"; }

ServerProcess::ServerProcess(Target target) : target_(target), port_(free_udp_port()) {
    folder_ = fs::temp_directory_path() /
              ("sevrock-it-" + std::to_string(getpid()) + "-" + std::to_string(next_instance()));
    fs::remove_all(folder_);
    root_ = folder_ / "root";
    fs::create_directories(root_);
    fs::create_directories(folder_ / "log");
    store_ = folder_ / "Pravlen.reg";
    pipe_ = "@velquin-test-" + std::to_string(getpid()) + "-" + std::to_string(port_);
    set("Port", std::to_string(port_));
    set("RootDirectory", program_path(root_, true));
    set("LogDir", program_path(folder_ / "log", true));
}

ServerProcess::~ServerProcess() {
    if (pid_ > 0 && running()) {
        kill(pid_, SIGKILL);
        wait_exit(10000);
    }
    stopReading_ = true;
    if (reader_.joinable()) reader_.join();
    std::error_code ignored;
    fs::remove_all(folder_, ignored);
}

std::string ServerProcess::program_path(const fs::path& path, bool directory) const {
    std::string text = path.string();
    if (target_ == Target::kWine) {
        for (char& c : text)
            if (c == '/') c = '\\';
        text = "Z:" + text;
    }
    if (directory) text += target_ == Target::kWine ? '\\' : '/';
    return text;
}

void ServerProcess::set(const std::string& name,
                        const std::string& value,
                        const std::string& section) {
    values_[section][name] = value;
}

void ServerProcess::write_store() {
    std::ofstream out(store_, std::ios::binary);
    out << "REGEDIT4\r\n";
    for (const auto& [section, values] : values_) {
        out << "\r\n[HKEY_LOCAL_MACHINE\\Software\\Velquin\\Pravlen"
            << (section.empty() ? "" : "\\" + section) << "]\r\n";
        for (const auto& [name, value] : values)
            out << '"' << escape_reg(name) << "\"=\"" << escape_reg(value) << "\"\r\n";
    }
}

bool ServerProcess::start(std::vector<std::string> args, bool waitReady) {
    if (reader_.joinable()) {
        stopReading_ = true;
        reader_.join();
        stopReading_ = false;
        std::lock_guard lock(mutex_);
        output_.clear();
    }
    exitCode_ = -1;
    if (!fs::exists(store_)) write_store();
    std::vector<std::string> argv;
    if (target_ == Target::kNative) {
        argv.push_back(SEVROCK_NATIVE);
    } else {
        argv = {windows_dir() + "/wine-run", "--exec", windows_dir() + "/Sevrock.exe"};
    }
    argv.insert(argv.end(), args.begin(), args.end());
    std::vector<std::string> env = environment_without_pravlen();
    env.push_back("PRAVLEN_STORE=" + program_path(store_, false));
    env.push_back("PRAVLEN_PIPE=" + pipe_);
    env.insert(env.end(), environment_.begin(), environment_.end());

    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) return false;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, fds[1], 1);
    posix_spawn_file_actions_adddup2(&actions, fds[1], 2);
    posix_spawn_file_actions_addchdir_np(&actions, folder_.c_str());
    std::vector<char*> cargv = c_strings(argv), cenv = c_strings(env);
    int rc = posix_spawn(&pid_, cargv[0], &actions, nullptr, cargv.data(), cenv.data());
    posix_spawn_file_actions_destroy(&actions);
    close(fds[1]);
    if (rc != 0) {
        close(fds[0]);
        pid_ = -1;
        return false;
    }
    reader_ = std::thread([this, fd = fds[0]] { read_output(fd); });
    return !waitReady || wait_for("Ready on TFTP addr", 30000);
}

// Polls, so that the reader can be stopped even when a helper process of Wine
// keeps the pipe's write end open after the server ended.
void ServerProcess::read_output(int fd) {
    char buffer[4096];
    while (!stopReading_) {
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, 100) <= 0) continue;
        ssize_t n = read(fd, buffer, sizeof buffer);
        if (n <= 0) break;
        std::lock_guard lock(mutex_);
        // The Windows program writes its console lines in text mode (CR LF).
        for (ssize_t i = 0; i < n; ++i)
            if (buffer[i] != '\r') output_ += buffer[i];
        changed_.notify_all();
    }
    close(fd);
}

int ServerProcess::count(const std::string& text) {
    std::lock_guard lock(mutex_);
    int n = 0;
    for (std::size_t at = output_.find(text); at != std::string::npos;
         at = output_.find(text, at + 1))
        ++n;
    return n;
}

bool ServerProcess::wait_for(const std::string& text, int timeoutMs, int times) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    std::unique_lock lock(mutex_);
    return changed_.wait_until(lock, deadline, [&] {
        int n = 0;
        for (std::size_t at = output_.find(text); at != std::string::npos && n < times;
             at = output_.find(text, at + 1))
            ++n;
        return n >= times;
    });
}

std::string ServerProcess::output() {
    std::lock_guard lock(mutex_);
    return output_;
}

void ServerProcess::interrupt() {
    if (pid_ > 0) kill(pid_, SIGINT);
}

void ServerProcess::terminate() {
    if (pid_ > 0) kill(pid_, SIGTERM);
}

bool ServerProcess::running() {
    if (pid_ <= 0 || exitCode_ >= 0) return false;
    int status = 0;
    pid_t r = waitpid(pid_, &status, WNOHANG);
    if (r == 0) return true;
    exitCode_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return false;
}

int ServerProcess::wait_exit(int timeoutMs) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (running()) {
        if (std::chrono::steady_clock::now() > deadline) return -1;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return exitCode_;
}

bool ServerProcess::stored(const std::string& name,
                           std::string* value,
                           const std::string& section) {
    std::ifstream in(store_, std::ios::binary);
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::optional<platform::RegFile> file = platform::RegFile::parse(text);
    if (!file) return false;
    std::string key =
        platform::section_key(platform::kStoreProductKey, section.empty() ? "Pravlen" : section);
    std::optional<std::string> found = file->get(key, name);
    if (found && value) *value = *found;
    return found.has_value();
}
