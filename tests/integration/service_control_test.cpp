// The Windows service for real: Sevrock.exe installs itself into the service
// control manager (Wine's, in the test prefix), runs there and answers TFTP
// requests, stops and removes itself. The service runs on the product key of
// the prefix, so these tests run alone and clean up even when they fail.
#include <gtest/gtest.h>

#include <windows.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <type_traits>

#include "platform/udp.h"
#include "tests/integration/tftp_client.h"
#include "tests/support/temp_dir.h"

namespace {

constexpr const char* kServiceName = "TFTPService";
constexpr const char* kProductKey = "Software\\Velquin\\Pravlen";

// The build gives the program's path as the Unix path of the build tree.
std::string sevrock_path() {
    std::string path = std::string("Z:") + SEVROCK_EXE;
    for (char& c : path)
        if (c == '/') c = '\\';
    return path;
}

struct ProgramRun {
    DWORD exitCode = 0;
    std::string output;  // standard output and error, without CRs
};

std::string read_all(HANDLE pipe) {
    std::string text;
    char buffer[4096];
    DWORD n = 0;
    while (ReadFile(pipe, buffer, sizeof buffer, &n, nullptr) && n > 0)
        for (DWORD i = 0; i < n; ++i)
            if (buffer[i] != '\r') text += buffer[i];
    return text;
}

// Runs Sevrock.exe with `arguments` and collects what it prints.
ProgramRun run_sevrock(const std::string& arguments) {
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    HANDLE readEnd = nullptr, writeEnd = nullptr;
    ProgramRun run{~DWORD{0}, {}};
    if (!CreatePipe(&readEnd, &writeEnd, &inherit, 0)) return run;
    SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = startup.hStdError = writeEnd;
    std::string commandLine = "\"" + sevrock_path() + "\" " + arguments;
    PROCESS_INFORMATION process{};
    BOOL started = CreateProcessA(nullptr, commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr,
                                  nullptr, &startup, &process);
    CloseHandle(writeEnd);
    if (started) {
        run.output = read_all(readEnd);
        WaitForSingleObject(process.hProcess, 60000);
        GetExitCodeProcess(process.hProcess, &run.exitCode);
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
    }
    CloseHandle(readEnd);
    return run;
}

struct ScHandleCloser {
    void operator()(SC_HANDLE handle) const { CloseServiceHandle(handle); }
};
using ScHandle = std::unique_ptr<std::remove_pointer_t<SC_HANDLE>, ScHandleCloser>;

ScHandle open_tftp_service(DWORD* error = nullptr) {
    ScHandle manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
    SC_HANDLE service =
        manager ? OpenServiceA(manager.get(), kServiceName, SERVICE_ALL_ACCESS) : nullptr;
    if (error) *error = service ? 0 : GetLastError();
    return ScHandle(service);
}

// Polls until `done` holds or the time is up; `done` runs at least once.
bool poll_until(const std::function<bool()>& done, int timeoutMs = 20000) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        if (done()) return true;
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
}

bool wait_for_state(DWORD state, SERVICE_STATUS* status) {
    return poll_until([&] {
        ScHandle service = open_tftp_service();
        return service && QueryServiceStatus(service.get(), status) &&
               status->dwCurrentState == state;
    });
}

bool service_gone(int timeoutMs = 10000) {
    return poll_until(
        [] {
            DWORD error = 0;
            return !open_tftp_service(&error) && error == ERROR_SERVICE_DOES_NOT_EXIST;
        },
        timeoutMs);
}

// Removes the service and the product key however a test ends, and starts
// from neither.
class ServiceSandbox {
  public:
    ServiceSandbox() {
        clean();
        EXPECT_TRUE(platform::start_network());
    }
    ~ServiceSandbox() { clean(); }
    ServiceSandbox(const ServiceSandbox&) = delete;
    ServiceSandbox& operator=(const ServiceSandbox&) = delete;

    void set(const char* name, const std::string& value) {
        HKEY key = nullptr;
        ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, kProductKey, 0, nullptr, 0, KEY_ALL_ACCESS,
                                  nullptr, &key, nullptr),
                  ERROR_SUCCESS);
        RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                       static_cast<DWORD>(value.size() + 1));
        RegCloseKey(key);
    }

  private:
    static void clean() {
        if (ScHandle service = open_tftp_service()) {
            SERVICE_STATUS status{};
            ControlService(service.get(), SERVICE_CONTROL_STOP, &status);
            wait_for_state(SERVICE_STOPPED, &status);
            DeleteService(service.get());
        }
        service_gone();
        RegDeleteTreeA(HKEY_LOCAL_MACHINE, kProductKey);
    }
};

std::string log_files_text(const std::filesystem::path& folder) {
    std::string text;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        std::ifstream in(entry.path(), std::ios::binary);
        std::ostringstream content;
        content << in.rdbuf();
        text += content.str();
    }
    return text;
}

// The service's configuration as -install creates it.
void expect_installed_as_specified() {
    ScHandle service = open_tftp_service();
    ASSERT_TRUE(service);
    char buffer[8192];
    DWORD needed = 0;
    auto* config = reinterpret_cast<QUERY_SERVICE_CONFIGA*>(buffer);
    ASSERT_TRUE(QueryServiceConfigA(service.get(), config, sizeof buffer, &needed));
    EXPECT_STREQ(config->lpDisplayName, "TFTP Server");
    EXPECT_EQ(config->dwServiceType, DWORD{SERVICE_WIN32_OWN_PROCESS});
    EXPECT_EQ(config->dwStartType, DWORD{SERVICE_AUTO_START});
    EXPECT_EQ(config->dwErrorControl, DWORD{SERVICE_ERROR_NORMAL});
    EXPECT_EQ(config->lpBinaryPathName, "\"" + sevrock_path() + "\"");
    // Wine's QueryServiceConfig leaves the dependencies out; its manager keeps
    // them where Windows does.
    char depends[64] = {};
    DWORD size = sizeof depends - 2;
    EXPECT_EQ(RegGetValueA(HKEY_LOCAL_MACHINE, "System\\CurrentControlSet\\Services\\TFTPService",
                           "DependOnService", RRF_RT_REG_MULTI_SZ, nullptr, depends, &size),
              ERROR_SUCCESS);
    EXPECT_EQ(std::string(depends, size), std::string("tcpip\0\0", 7));
    auto* description = reinterpret_cast<SERVICE_DESCRIPTIONA*>(buffer);
    ASSERT_TRUE(QueryServiceConfig2A(service.get(), SERVICE_CONFIG_DESCRIPTION,
                                     reinterpret_cast<BYTE*>(buffer), sizeof buffer, &needed));
    EXPECT_STREQ(description->lpDescription, "Trivial File Transfer Protocol Server");
}

class ServiceControlTest : public testing::Test {
  protected:
    void SetUp() override {
        sandbox_.set("Port", std::to_string(port_));
        sandbox_.set("RootDirectory", root_.dir_text());
        sandbox_.set("LogDir", logs_.dir_text());
        sandbox_.set("Log", "2");
    }

    ServiceSandbox sandbox_;
    TempDir root_, logs_;
    uint16_t port_ = free_udp_port();
};

TEST_F(ServiceControlTest, InstallsRunsServesStopsAndRemoves) {
    ProgramRun install = run_sevrock("-INSTALL");
    EXPECT_EQ(install.output, "TFTP Server installed.\nTFTP Server started.\n");
    EXPECT_EQ(install.exitCode, 0u);

    expect_installed_as_specified();
    SERVICE_STATUS status{};
    ASSERT_TRUE(wait_for_state(SERVICE_RUNNING, &status));
    EXPECT_EQ(status.dwControlsAccepted, DWORD{SERVICE_ACCEPT_STOP});
    EXPECT_EQ(status.dwCheckPoint, 0u);

    // The server inside the service answers from the root of its settings.
    TftpClient client;
    Packet reply;
    for (int attempt = 0; attempt < 50 && !reply.opcode; ++attempt) {
        client.request(1, "absent.img", "octet", {}, port_);
        client.receive(&reply, 200);
    }
    EXPECT_EQ(reply.opcode, 5);
    EXPECT_EQ(reply.body, "File not found");
    const std::string image(3000, 'x');
    std::ofstream(root_.path() / "boot.img", std::ios::binary) << image;
    TftpClient::Result download = TftpClient().download(port_, "boot.img");
    EXPECT_TRUE(download.ok);
    EXPECT_EQ(download.data, image);

    ProgramRun again = run_sevrock("-install");
    EXPECT_TRUE(std::regex_match(
        again.output, std::regex("TFTP Server service installation failed - .+ \\(0x431\\)\n")))
        << again.output;

    ProgramRun remove = run_sevrock("-remove");
    EXPECT_TRUE(std::regex_match(
        remove.output,
        std::regex("Stopping TFTP Server\\.+\nTFTP Server stopped\\.\nTFTP Server deleted\\.\n")))
        << remove.output;
    EXPECT_EQ(remove.exitCode, 0u);
    EXPECT_TRUE(service_gone());

    // The server closed its log: the lines it keeps buffered are in the file.
    std::string log = log_files_text(logs_.path());
    EXPECT_NE(log.find(" Velquin TFTP Server 1.7.2 ready"), std::string::npos);
    EXPECT_NE(log.find(" Request from 127.0.0.1"), std::string::npos) << log;
    EXPECT_NE(log.find(" File not found " + root_.dir_text() + "absent.img"), std::string::npos);
    EXPECT_NE(log.find(" Get/octet  " + root_.dir_text() + "boot.img"), std::string::npos) << log;

    ProgramRun removeAgain = run_sevrock("-Remove");
    EXPECT_TRUE(std::regex_match(
        removeAgain.output, std::regex("TFTP Server failed to access service - .+ \\(0x424\\)\n")))
        << removeAgain.output;
}

// A server that cannot bind its port ends; the manager sees a failure, not a
// clean stop. Removing a service that is not running deletes it all the same.
TEST_F(ServiceControlTest, PortTakenEndsTheServiceWithAFailureCode) {
    platform::Socket taken = platform::open_udp_socket(0, port_);
    ASSERT_NE(taken, kNoSocket);
    ProgramRun install = run_sevrock("-install");
    EXPECT_EQ(install.output, "TFTP Server installed.\nTFTP Server started.\n");

    SERVICE_STATUS status{};
    ASSERT_TRUE(wait_for_state(SERVICE_STOPPED, &status));
    EXPECT_EQ(status.dwWin32ExitCode, DWORD{ERROR_SERVICE_SPECIFIC_ERROR});
    EXPECT_EQ(status.dwServiceSpecificExitCode, 1u);

    ProgramRun remove = run_sevrock("-remove");
    EXPECT_EQ(remove.output, "\nTFTP Server stopped.\nTFTP Server deleted.\n");
    EXPECT_TRUE(service_gone());
    platform::close_udp_socket(taken);
}

// From a console the dispatcher refuses the program (1063), which then ends
// with code 0; only the first argument is an option.
TEST(ServiceCommandLine, WithoutAnOptionPrintsTheUsageAndTheDispatcherCall) {
    const std::string usage =
        "Sevrock -install     to install the service\n"
        "Sevrock -remove      to remove the service\n"
        "Sevrock -debug       to run the service as a console application\n"
        "\nStartServiceCtrlDispatcher being called.\n"
        "This may take several seconds.  Please wait.\n";
    for (const char* arguments : {"", "-help", "-x -install"}) {
        SCOPED_TRACE(arguments);
        ProgramRun run = run_sevrock(arguments);
        EXPECT_EQ(run.output, usage);
        EXPECT_EQ(run.exitCode, 0u);
    }
    EXPECT_TRUE(service_gone(0));
}

}  // namespace
