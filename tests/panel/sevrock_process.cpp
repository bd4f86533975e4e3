#include "tests/panel/sevrock_process.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "pipeclient/pipe_client.h"
#include "platform/udp.h"
#include "tests/integration/tftp_client.h"
#include "tests/panel/panel_harness.h"

namespace {

std::string reg_escaped(const std::string& text) {
    std::string out;
    for (char c : text) {
        if (c == '\\' || c == '"') out += '\\';
        out += c;
    }
    return out;
}

// The pipe client reads the C library's environment, a child process the
// system's: both get the name.
void use_environment(const char* name, const std::string& value) {
    SetEnvironmentVariableA(name, value.c_str());
    _putenv_s(name, value.c_str());
}

}  // namespace

std::string build_tree_program(const char* name) {
    // Test programs live in tests\panel\ of the build tree.
    return test_program_directory() + "..\\..\\" + name;
}

SevrockProcess::SevrockProcess() {
    (void)platform::start_network();
    static int counter = 0;
    std::string id = std::to_string(GetCurrentProcessId()) + "-" + std::to_string(counter++);
    char temp[MAX_PATH];
    GetTempPathA(sizeof temp, temp);
    folder_ = std::string(temp) + "panel-sevrock-" + id + "\\";
    root_ = folder_ + "root\\";
    log_ = folder_ + "log\\";
    store_ = folder_ + "Pravlen.reg";
    pipe_ = "velquin-panel-test-" + id;
    std::filesystem::create_directories(root_);
    std::filesystem::create_directories(log_);
    port_ = free_udp_port();
}

SevrockProcess::~SevrockProcess() {
    kill();
    pipe_close();
    std::error_code ignored;
    std::filesystem::remove_all(folder_, ignored);
}

void SevrockProcess::write_store() const {
    std::map<std::string, std::string> values{{"Port", std::to_string(port_)},
                                              {"RootDirectory", root_},
                                              {"LogDir", log_},
                                              {"Timeout", "1"}};
    for (const auto& [name, text] : values_) values[name] = text;
    std::ofstream out(store_, std::ios::binary);
    out << "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\Software\\Velquin\\Pravlen]\r\n";
    for (const auto& [name, text] : values)
        out << "\"" << name << "\"=\"" << reg_escaped(text) << "\"\r\n";
}

void SevrockProcess::add_file(const std::string& name, std::size_t size) const {
    std::ofstream out(root_ + name, std::ios::binary);
    std::string bytes(size, 'v');
    out << bytes;
}

void SevrockProcess::write_log_file(const std::string& name, const std::string& content) const {
    std::ofstream(log_ + name, std::ios::binary) << content;
}

void SevrockProcess::log_console_to(const std::string& name) { consoleLog_ = name; }

// The server's console, appended to a file of the log directory that others
// may read and write meanwhile, as the server's own log files are.
HANDLE SevrockProcess::open_console_log() const {
    if (consoleLog_.empty()) return INVALID_HANDLE_VALUE;
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    return CreateFileA((log_ + consoleLog_).c_str(), FILE_APPEND_DATA,
                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, &inherit,
                       OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
}

bool SevrockProcess::start() {
    write_store();
    use_environment("PRAVLEN_STORE", store_);
    use_environment("PRAVLEN_PIPE", pipe_);
    std::string command = "\"" + build_tree_program("Sevrock.exe") + "\" -debug";
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    HANDLE console = open_console_log();
    if (console != INVALID_HANDLE_VALUE) {
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdOutput = console;
        startup.hStdError = console;
    }
    bool started =
        CreateProcessA(nullptr, command.data(), nullptr, nullptr, console != INVALID_HANDLE_VALUE,
                       CREATE_NO_WINDOW, nullptr, folder_.c_str(), &startup, &process_);
    if (console != INVALID_HANDLE_VALUE) CloseHandle(console);
    if (!started) return false;
    ServerSettings settings;
    return pump_until([&] { return fetch_settings(&settings) > 0; }, 20000);
}

void SevrockProcess::kill() {
    if (!process_.hProcess) return;
    TerminateProcess(process_.hProcess, 1);
    WaitForSingleObject(process_.hProcess, 10000);
    CloseHandle(process_.hProcess);
    CloseHandle(process_.hThread);
    process_ = PROCESS_INFORMATION{};
}
