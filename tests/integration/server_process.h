// A real Sevrock process for one test: its own store file, root and log
// directory in a temporary folder, a free loopback port, and its console
// output collected as it runs. The Windows build runs under Wine.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

enum class Target { kNative, kWine };

// Whether the target's program exists in this checkout's build trees.
bool target_available(Target target);
std::string target_name(Target target);

// A value in the store's text form: backslashes and quotes escaped.
std::string escape_reg(const std::string& text);

// For a program the tests start: this process's environment without its
// PRAVLEN_ values, and strings as the argument and environment arrays of a
// spawn (ending in a null pointer; valid while `strings` lives).
std::vector<std::string> environment_without_pravlen();
std::vector<char*> c_strings(std::vector<std::string>& strings);

class ServerProcess {
  public:
    explicit ServerProcess(Target target);
    ~ServerProcess();
    ServerProcess(const ServerProcess&) = delete;
    ServerProcess& operator=(const ServerProcess&) = delete;

    // Settings written to the store before start; "Port", "RootDirectory" and
    // "LogDir" are preset to the test's own port and folders.
    void set(const std::string& name, const std::string& value, const std::string& section = "");

    // An environment variable ("NAME=value") for the next start.
    void set_environment(const std::string& assignment) { environment_.push_back(assignment); }

    // Starts the program with `args` ("-debug" by default) and waits for its
    // readiness line when `waitReady` is set. False when it did not start.
    // A server that has ended may be started again, with the same store,
    // folders, port and pipe; its output starts afresh.
    bool start(std::vector<std::string> args = {"-debug"}, bool waitReady = true);

    // Waits until the console output holds `text` (count times); false on
    // time-out.
    bool wait_for(const std::string& text, int timeoutMs = 10000, int count = 1);
    std::string output();
    int count(const std::string& text);

    // Ctrl+C (SIGINT; Wine turns it into the console's Ctrl+C event).
    void interrupt();
    void terminate();  // SIGTERM
    // The exit code, or -1 when the process did not end within the time.
    int wait_exit(int timeoutMs);
    bool running();

    uint16_t port() const { return port_; }
    int pid() const { return pid_; }
    // The control pipe's name (PRAVLEN_PIPE), unique to this server.
    const std::string& pipe_name() const { return pipe_; }
    const std::filesystem::path& store() const { return store_; }
    // A value of the store file as the server left it; false when missing.
    bool stored(const std::string& name, std::string* value, const std::string& section = "");
    Target target() const { return target_; }
    const std::filesystem::path& root() const { return root_; }
    const std::filesystem::path& folder() const { return folder_; }
    // A path as the program under test writes it (Windows form under Wine).
    std::string program_path(const std::filesystem::path& path, bool directory) const;

  private:
    void write_store();
    void read_output(int fd);

    Target target_;
    uint16_t port_;
    std::filesystem::path folder_, root_, store_;
    std::string pipe_;
    std::vector<std::string> environment_;
    std::map<std::string, std::map<std::string, std::string>> values_;
    int pid_ = -1;
    int exitCode_ = -1;
    std::atomic<bool> stopReading_{false};
    std::thread reader_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::string output_;
};
