// Faults around a running server: its log directory gone, a damaged store,
// pipe clients that leave in the middle of a command, and transfer clients
// that vanish. The server keeps serving through all of them and gives back
// what a vanished transfer held.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <sys/socket.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>

#include "tests/integration/pipe_driver_process.h"
#include "tests/integration/target_test.h"
#include "tests/integration/tftp_client.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

const std::string kServed(1500, 's');

// Whether the server answers a download of "ok.bin" with its content,
// retrying for a while (a daemon prints no readiness line).
bool serves(uint16_t port) {
    for (int attempt = 0; attempt < 50; ++attempt) {
        TftpClient client;
        TftpClient::Result r = client.download(port, "ok.bin", "octet", {}, 512, 200);
        if (r.ok) return r.data == kServed;
    }
    return false;
}

// Entries of /proc/<pid>/fd, or of /proc/<pid>/maps naming `file`.
int open_descriptors(int pid) {
    int n = 0;
    for ([[maybe_unused]] const auto& entry :
         fs::directory_iterator("/proc/" + std::to_string(pid) + "/fd"))
        ++n;
    return n;
}
int mappings_of(int pid, const std::string& file) {
    std::ifstream maps("/proc/" + std::to_string(pid) + "/maps");
    int n = 0;
    for (std::string line; std::getline(maps, line);)
        n += line.size() >= file.size() &&
             line.compare(line.size() - file.size(), file.size(), file) == 0;
    return n;
}

// Polls `done` every 20 ms for up to `seconds`.
template <typename Condition>
bool eventually(Condition done, int seconds = 10) {
    auto deadline = Clock::now() + std::chrono::seconds(seconds);
    while (!done()) {
        if (Clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

class FaultTest : public TargetTest {
  protected:
    void SetUp() override {
        TargetTest::SetUp();
        if (IsSkipped()) return;
        put_file("ok.bin", kServed);
    }
};

// The damaged store: binary junk, a line of 100 KB, unterminated and
// malformed entries and values that are no numbers. Bad values take their
// defaults; the entries that are sound still count. (A store that cannot be
// read at all gives every default, the TFTP port 69 too, which a test cannot
// take from the machine.)
TEST_P(FaultTest, DamagedStoreGivesDefaultsAndTheServerServes) {
    std::ofstream store(server().store(), std::ios::binary);
    store << "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\Software\\Velquin\\Pravlen]\r\n"
          << "\"Port\"=\"" << server().port() << "\"\r\n"
          << "\"RootDirectory\"=\"" << escape_reg(server().program_path(server().root(), true))
          << "\"\r\n"
          << "\"LogDir\"=\"" << escape_reg(server().program_path(server().folder(), true))
          << "\"\r\n"
          << "\x01\xff\xfe junk\r\n"
          << "\"Big\"=\"" << std::string(100000, 'x') << "\"\r\n"
          << "\"Timeout\"=\"abc\"\r\n"
          << "\"Retransmit\"=dword:00000003\r\n"
          << "\"Clients\"=\"99999999999999999999999\r\n"
          << "\"Options\r\n"
          << "[HKEY_LOCAL_MACHINE\\Software\\Velquin\\Pravlen\\Access\r\n"
          << "\"%root%\\0\"=\"" << std::string(5000, 'r') << "\"\r\n";
    store.close();
    ASSERT_TRUE(server().start());
    EXPECT_TRUE(server().wait_for(" def. Timeout  : 1\n"));
    EXPECT_TRUE(server().wait_for(" max. Retries  : 10\n"));
    EXPECT_TRUE(server().wait_for(" max. Clients  : 10\n"));
    EXPECT_TRUE(server().wait_for(" Option eval.  : 7\n"));
    EXPECT_TRUE(serves(server().port()));
}

// A client of the control pipe that sends a malformed or partial command, or
// leaves before its answer, costs the server nothing.
TEST_P(FaultTest, PipeClientsLeavingMidCommandLeaveTheServerServing) {
    ASSERT_TRUE(server().start());
    PipeDriver driver(GetParam(), server().pipe_name());
    EXPECT_EQ(driver.call("raw 3").substr(0, 4), "raw=");
    EXPECT_EQ(driver.call("raw 3").substr(0, 4), "raw=");
    EXPECT_EQ(driver.call("settings").substr(0, 5), "rc=1 ");
    EXPECT_TRUE(serves(server().port()));
}

// Natively the test can speak to the pipe's socket itself and hang up at
// any point of a command.
TEST(PipeFault, ConnectionsDroppedMidCommandLeaveTheServerServing) {
    ServerProcess server(Target::kNative);
    std::ofstream(server.root() / "ok.bin", std::ios::binary) << kServed;
    ASSERT_TRUE(server.start());
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::string name = server.pipe_name().substr(1);  // "@name": abstract
    std::memcpy(address.sun_path + 1, name.data(), name.size());
    socklen_t length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + name.size());
    const std::string command("\1\0\0\0\0\0\0\0", 8);  // fetch the settings
    for (const std::string& sent :
         {std::string(), command.substr(0, 3), command, command + std::string(5000, 'x')}) {
        int fd = socket(AF_UNIX, SOCK_SEQPACKET, 0);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(connect(fd, reinterpret_cast<sockaddr*>(&address), length), 0);
        if (!sent.empty()) (void)!send(fd, sent.data(), sent.size(), MSG_NOSIGNAL);
        close(fd);  // before any answer
    }
    PipeDriver driver(Target::kNative, server.pipe_name());
    EXPECT_EQ(driver.call("settings").substr(0, 5), "rc=1 ");
    EXPECT_TRUE(serves(server.port()));
}

// A client that vanishes after the first block: its transfer ends as failed
// (never completed), and its record, view and socket are given back.
TEST_P(FaultTest, ClientVanishingMidTransferFreesRecordViewAndSocket) {
    server().set("Timeout", "1");
    server().set("Retransmit", "0");
    server().set("MMF", "3");
    ASSERT_TRUE(server().start());
    PipeDriver driver(GetParam(), server().pipe_name());
    ASSERT_EQ(driver.call("transfer 0"), "rc=1 running=0");
    bool native = GetParam() == Target::kNative;
    int descriptors = native ? open_descriptors(server().pid()) : 0;
    std::string path = (server().root() / "ok.bin").string();
    {
        TftpClient client;
        client.request(1, "ok.bin", "octet", {}, server().port());
        Packet block;
        ASSERT_TRUE(client.receive(&block, 5000));
        EXPECT_EQ(driver.call("transfer 1"), "rc=1 running=1");
        if (native) {
            EXPECT_EQ(mappings_of(server().pid(), path), 1);
        }
    }
    std::string record;
    EXPECT_TRUE(eventually([&] {
        record = driver.call("transfer 0");
        return record.find("running=0 ") != std::string::npos;
    })) << record;
    EXPECT_EQ(record.find(" status=0 "), std::string::npos) << record;
    EXPECT_EQ(record.find(" status=-1 "), std::string::npos) << record;
    EXPECT_EQ(server().count("s 127.0.0.1       Get/octet"), 0);
    if (native) {
        EXPECT_TRUE(eventually([&] { return open_descriptors(server().pid()) == descriptors; }))
            << open_descriptors(server().pid()) << " descriptors, " << descriptors << " before";
        EXPECT_EQ(mappings_of(server().pid(), path), 0);
    }
    EXPECT_TRUE(serves(server().port()));
}

// The daemon logs to its file. A log directory missing at start, or removed
// while the server runs, switches logging off; transfers go on.
TEST(LogFault, LogDirectoryMissingOrRemovedLeavesTransfersRunning) {
    for (bool removedLater : {false, true}) {
        SCOPED_TRACE(removedLater ? "removed while running" : "missing at start");
        ServerProcess server(Target::kNative);
        std::ofstream(server.root() / "ok.bin", std::ios::binary) << kServed;
        server.set("Log", "2");
        fs::path logs = server.folder() / "log";
        if (!removedLater) fs::remove_all(logs);
        ASSERT_TRUE(server.start({}, false));
        ASSERT_TRUE(serves(server.port()));
        if (removedLater) fs::remove_all(logs);
        EXPECT_TRUE(serves(server.port()));
        EXPECT_TRUE(server.running());
        EXPECT_FALSE(fs::exists(logs));
        server.terminate();
        EXPECT_EQ(server.wait_exit(6000), 0);
    }
}

INSTANTIATE_FOR_BOTH_TARGETS(FaultTest);

}  // namespace
