// The request parser with path resolution and access control, fed datagrams
// against a root of its own and a store file of its own.
#include "engine/request.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "engine/file_view.h"
#include "engine/options.h"
#include "platform/files.h"
#include "platform/store.h"
#include "platform/udp.h"
#include "settings/settings.h"
#include "tests/support/temp_dir.h"

#if !defined(_WIN32)
#include <sys/stat.h>
#endif

namespace {

namespace fs = std::filesystem;
using Options = std::vector<std::pair<std::string, std::string>>;

constexpr uint32_t kClient = 10u | (5u << 24);  // 10.0.0.5

std::string request(uint16_t opcode,
                    const std::string& file,
                    const std::string& mode,
                    const Options& options = {}) {
    std::string p;
    p += static_cast<char>(opcode >> 8);
    p += static_cast<char>(opcode & 0xFF);
    p += file + '\0' + mode + '\0';
    for (const auto& [name, value] : options) p += name + '\0' + value + '\0';
    return p;
}

class RequestTest : public testing::Test {
  protected:
    void SetUp() override {
        reset_settings_for_testing();
        root_ = dir_.path() / "root";
        fs::create_directories(root_);
        platform::store_use_file((dir_.path() / "Pravlen.reg").string());
        set_default_directory(dir_.dir_text().c_str());
        set("RootDirectory", root_text());
    }
    void TearDown() override {
        for (TransferSession* s : sessions_) {
            release_file(s);
            std::free(s);
        }
    }

    std::string root_text() const {
        return root_.string() + static_cast<char>(fs::path::preferred_separator);
    }
    static void set(const char* name,
                    const std::string& value,
                    const char* section = kMainSection) {
        ASSERT_TRUE(platform::store_write(section, name, value.c_str()));
        load_main_settings(kMainSection);
    }
    void file(const std::string& name, const std::string& bytes) {
        dir_.write("root/" + name, bytes);
    }

    // Parses `datagram` as the receive loop hands it over: NUL after its end.
    Verdict parse(const std::string& datagram,
                  uint32_t client = kClient,
                  int socketIndex = kTftpSocket) {
        session_ = static_cast<TransferSession*>(std::calloc(1, sizeof(TransferSession)));
        sessions_.push_back(session_);
        session_->clientAddress = client;
        std::vector<uint8_t> buffer(1536, 0);
        std::memcpy(buffer.data(), datagram.data(), datagram.size());
        return parse_request(socketIndex, buffer.data(), static_cast<int>(datagram.size()),
                             session_);
    }
    bool accepted(const std::string& datagram) { return parse(datagram).accepted(); }
    // A refusal as "code/message index", acceptance as "ok".
    std::string outcome(const std::string& datagram, uint32_t client = kClient) {
        Verdict verdict = parse(datagram, client);
        if (verdict.kind == Verdict::Kind::kErrorPacket) return "never answered";
        if (verdict.accepted()) return "ok";
        return std::to_string(static_cast<int>(verdict.code)) + "/" +
               std::to_string(session_->status);
    }

    TempDir dir_;
    fs::path root_;
    TransferSession* session_ = nullptr;
    std::vector<TransferSession*> sessions_;
};

TEST_F(RequestTest, RefusalsCarryTheirCodeAndMessage) {
    file("boot.img", "data");
    fs::create_directories(root_ / "dir");
    const struct {
        const char* what;
        std::string datagram;
        const char* expected;
    } cases[] = {
        {"two bytes", std::string("\0\1", 2), "4/10"},
        {"data opcode", request(3, "boot.img", "octet"), "4/10"},
        {"error packet", std::string("\0\5\0\0oops\0", 9), "never answered"},
        {"name without NUL", std::string("\0\1boot.img", 10), "4/11"},
        {"parent", request(1, "../x", "octet"), "4/11"},
        {"parent inside", request(1, "a/../b", "octet"), "4/11"},
        {"drive", request(1, "c:x", "octet"), "4/11"},
        {"mode without NUL", std::string("\0\1boot.img\0octet", 16), "4/10"},
        {"mail", request(1, "boot.img", "mail"), "4/14"},
        {"unknown mode", request(1, "boot.img", "binary"), "4/14"},
        {"blksize not a number", request(1, "boot.img", "octet", {{"blksize", "abc"}}), "8/15"},
        {"blksize below 8", request(1, "boot.img", "octet", {{"blksize", "7"}}), "8/15"},
        {"timeout 0", request(1, "boot.img", "octet", {{"timeout", "0"}}), "8/16"},
        {"timeout 256", request(1, "boot.img", "octet", {{"timeout", "256"}}), "8/16"},
        {"tsize not a number", request(1, "boot.img", "octet", {{"tsize", "x"}}), "8/17"},
        {"missing file", request(1, "none.img", "octet"), "1/1"},
        {"directory", request(1, "dir", "octet"), "1/1"},
        {"capital modes", request(1, "boot.img", "Octet"), "ok"},
        {"netascii", request(1, "boot.img", "NETASCII"), "ok"},
    };
    for (const auto& c : cases) EXPECT_EQ(outcome(c.datagram), c.expected) << c.what;
}

TEST_F(RequestTest, UploadsAreRefusedWhileDisabled) {
    set("Upload", "0");
    EXPECT_EQ(outcome(request(2, "new.img", "octet")), "4/4");
    EXPECT_EQ(session_->opcode, 0) << "the log names no request for this refusal";
}

TEST_F(RequestTest, OptionsAreTakenBoundedOrSkipped) {
    file("boot.img", std::string(3000, 'x'));
    ASSERT_TRUE(accepted(request(1, "boot.img", "octet",
                                 {{"blksize", "70000"}, {"tsize", "0"}, {"rollover", "0"}})));
    EXPECT_EQ(session_->blockSize, 65464);
    EXPECT_EQ(session_->transferSize, 3000u);
    EXPECT_EQ(session_->optionFlags, kOptionBlksize | kOptionTsize);

    set("Options", "6");  // blksize not accepted: not even checked
    ASSERT_TRUE(accepted(request(1, "boot.img", "octet", {{"blksize", "abc"}, {"timeout", "3"}})));
    EXPECT_EQ(session_->blockSize, 512);
    EXPECT_EQ(session_->optionFlags, kOptionTimeout);
    EXPECT_EQ(session_->timeoutSeconds, 3u);
}

// The windowsize option: 1 to 65535 blocks, granted up to MaxWindowSize;
// 0 there leaves the option unknown, and a group does not take it.
TEST_F(RequestTest, WindowsizeIsGrantedUpToTheLimit) {
    file("boot.img", std::string(3000, 'x'));
    const struct {
        const char* what;
        const char* limit;  // "" leaves MaxWindowSize unset
        Options options;
        const char* expected;
        uint32_t granted;  // 0: not acknowledged
    } cases[] = {
        {"0", "", {{"windowsize", "0"}}, "8/22", 0},
        {"1", "", {{"windowsize", "1"}}, "ok", 1},
        {"8", "", {{"windowsize", "8"}}, "ok", 8},
        {"65535, held to the default 64", "", {{"windowsize", "65535"}}, "ok", 64},
        {"65536", "", {{"windowsize", "65536"}}, "8/22", 0},
        {"text", "", {{"windowsize", "eight"}}, "8/22", 0},
        {"capitals", "", {{"WindowSize", "16"}}, "ok", 16},
        {"MaxWindowSize 0", "0", {{"windowsize", "8"}}, "ok", 0},
        {"MaxWindowSize 0, bad value unread", "0", {{"windowsize", "x"}}, "ok", 0},
        {"MaxWindowSize 4", "4", {{"windowsize", "8"}}, "ok", 4},
        {"MaxWindowSize 4, asked 2", "4", {{"windowsize", "2"}}, "ok", 2},
        {"MaxWindowSize out of range", "70000", {{"windowsize", "100"}}, "ok", 64},
        {"multicast", "", {{"windowsize", "8"}, {"multicast", ""}}, "ok", 0},
    };
    load_multicast_settings(kMainSection);  // "Multicast" 1 takes the multicast option
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        if (*c.limit)
            set("MaxWindowSize", c.limit);
        else
            (void)platform::store_delete(kMainSection, "MaxWindowSize");
        load_main_settings(kMainSection);
        EXPECT_EQ(outcome(request(1, "boot.img", "octet", c.options)), c.expected);
        if (std::string(c.expected) != "ok") continue;
        EXPECT_EQ((session_->optionFlags & kOptionWindowsize) != 0, c.granted != 0);
        EXPECT_EQ(session_->windowSize, c.granted);
        if (c.options.size() > 1) continue;  // a write request takes no multicast option
        std::string upload = "up" + std::to_string(&c - cases) + ".img";
        EXPECT_EQ(outcome(request(2, upload, "octet", c.options)), "ok");
        EXPECT_EQ(session_->windowSize, c.granted) << "uploads negotiate alike";
    }
}

// Whatever ends the datagram stays inside it: a value that runs to the end
// without its NUL is read; a name that ends it, with or without its NUL, has
// no value and is skipped like an option the server does not know.
TEST_F(RequestTest, OptionsAtTheEndOfTheDatagramStayInsideIt) {
    file("boot.img", "x");
    const struct {
        const char* what;
        std::string tail;
        uint16_t blockSize;
        uint32_t flags;
    } cases[] = {
        {"value without NUL", std::string("blksize\0001024", 12), 1024, kOptionBlksize},
        {"name without NUL", "tsize", 512, 0},
        {"name without value", std::string("blksize\0", 8), 512, 0},
        {"value, then a lone name", std::string("tsize\0000\0blksize\0", 16), 512, kOptionTsize},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_TRUE(accepted(request(1, "boot.img", "octet") + c.tail));
        EXPECT_EQ(session_->blockSize, c.blockSize);
        EXPECT_EQ(session_->optionFlags, c.flags);
    }
}

// Which downloads read a shared view: the bit 2 of MMF for ordinary ones,
// the bit 1 with the multicast option, which "Multicast" 0 ignores.
TEST_F(RequestTest, SharedViewsAndTheMulticastOptionFollowTheirSettings) {
    file("boot.img", std::string(3000, 'x'));
    const struct {
        const char* mmf;
        const char* multicast;
        bool askForGroup;
        bool view;
        uint32_t flags;
    } cases[] = {
        {"0", "1", false, false, 0}, {"0", "1", true, false, kOptionMulticast},
        {"1", "1", false, false, 0}, {"1", "1", true, true, kOptionMulticast},
        {"3", "1", false, true, 0},  {"3", "1", true, true, kOptionMulticast},
        {"1", "0", true, false, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "MMF " << c.mmf << ", Multicast " << c.multicast
                                        << (c.askForGroup ? ", with the option" : ""));
        set("MMF", c.mmf);
        set("Multicast", c.multicast);
        load_multicast_settings(kMainSection);
        Options options;
        if (c.askForGroup) options.emplace_back("multicast", "");
        ASSERT_TRUE(accepted(request(1, "boot.img", "octet", options)));
        EXPECT_EQ(session_->useFileView != 0, c.view);
        EXPECT_EQ(session_->optionFlags, c.flags);
        EXPECT_EQ(session_->transferSize, 3000u);
    }
}

// Only a request without any option, on the PXE port, for a mapped file is
// sent to its group; anything else is an ordinary transfer.
TEST_F(RequestTest, PxePortSendsOnlyPlainRequestsToTheirGroup) {
    file("boot/image", "image");
    set("boot\\image", "239.1.1.1:1759", kPxeSection);
    load_pxe_settings(kMainSection);
    const struct {
        const char* what;
        int socketIndex;
        Options options;
        uint32_t pxeMulticast;
    } cases[] = {
        {"TFTP port", kTftpSocket, {}, 0},
        {"PXE port", kPxeSocket, {}, 1},
        {"PXE port with tsize", kPxeSocket, {{"tsize", "0"}}, 0},
        {"PXE port with an unknown option", kPxeSocket, {{"windowsize", "4"}}, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_TRUE(
            parse(request(1, "boot/image", "octet", c.options), kClient, c.socketIndex).accepted());
        EXPECT_EQ(session_->pxeMulticast, c.pxeMulticast);
        EXPECT_EQ(session_->blockSize, c.pxeMulticast ? 1432 : 512);
    }
}

TEST_F(RequestTest, NetasciiWithUnixStyleCountsTheConvertedSize) {
    std::string text;
    for (int i = 0; i < 10; ++i) text += "line\r\n";
    file("text.txt", text);
    set("UnixStyle", "1");
    ASSERT_TRUE(accepted(request(1, "text.txt", "netascii", {{"tsize", "0"}})));
    EXPECT_EQ(session_->transferSize, text.size() - 10);
    EXPECT_TRUE(session_->textMode);
    ASSERT_TRUE(accepted(request(1, "text.txt", "octet")));
    EXPECT_EQ(session_->transferSize, text.size());
}

TEST_F(RequestTest, AccessRulesDecideByGroupAndClient) {
    file("boot.img", "x");
    file("sub/dir/file", "x");
    set("AccessControl", "1");
    EXPECT_EQ(outcome(request(1, "boot.img", "octet")), "4/13") << "no rules at all";
    set("%root%\\0", "r,10.0.0.1-10.0.0.99", kAccessSection);
    set("%root%\\1", "rw,10.0.0.5", kAccessSection);
    EXPECT_EQ(outcome(request(1, "boot.img", "octet")), "ok");
    EXPECT_EQ(outcome(request(2, "new.img", "octet")), "4/13") << "the first covering rule wins";
    set("sub\\1", "r", kAccessSection);  // no rule 0: never read
    EXPECT_EQ(outcome(request(1, "sub/dir/file", "octet")), "4/13");
    set("sub\\0", "r", kAccessSection);
    EXPECT_EQ(outcome(request(1, "sub/dir/file", "octet")), "ok");
    EXPECT_EQ(outcome(request(1, "boot.img", "octet"), 200u | (5u << 24)), "4/13")
        << "10.0.0.200 is outside the range";
}

TEST_F(RequestTest, ReplacingAFileNeedsTheOverrideRight) {
    file("old.img", "old contents");
    set("AccessControl", "1");
    set("%root%\\0", "rw", kAccessSection);
    EXPECT_EQ(outcome(request(2, "old.img", "octet")), "6/6");
    set("%root%\\0", "rwo", kAccessSection);
    EXPECT_EQ(outcome(request(2, "old.img", "octet")), "ok");
    release_file(session_);
    EXPECT_EQ(dir_.read("root/old.img"), "") << "an accepted upload truncates the file";
}

TEST_F(RequestTest, AddressDirectoryServesItsClient) {
    file("pxelinux.0", "shared");
    file("10.0.0.5/pxelinux.0", "own");
    set("RootIPspecific", "1");
    ASSERT_TRUE(accepted(request(1, "pxelinux.0", "octet")));
    EXPECT_EQ(std::string(session_->fileName), root_text() + "10.0.0.5\\pxelinux.0");
    ASSERT_TRUE(parse(request(1, "pxelinux.0", "octet"), 7u | (5u << 24)).accepted());
    EXPECT_EQ(std::string(session_->fileName), root_text() + "pxelinux.0");
    set("AccessControl", "1");
    set("10.0.0.5\\0", "r", kAccessSection);
    EXPECT_EQ(outcome(request(1, "pxelinux.0", "octet")), "ok");
    EXPECT_EQ(outcome(request(1, "pxelinux.0", "octet"), 7u | (5u << 24)), "4/13");
}

TEST_F(RequestTest, PrefixEntriesReachOutsideTheRootOnlyBelowThemselves) {
    fs::create_directories(dir_.path() / "images");
    dir_.write("images/x.img", "image");
    dir_.write("images2/secret", "secret");
    std::string entry = (dir_.path() / "images").string();
    set("Prefix", "junk;" + entry);
    set("AccessControl", "1");  // no rules: only the prefix can grant access
    std::string form = *platform::prefix_request_form(entry);
    std::string name = form;
    for (char& c : name)
        if (c == '\\') c = '/';
    ASSERT_EQ(outcome(request(1, name + "/x.img", "octet")), "ok");
    EXPECT_EQ(platform::local_path(session_->fileName), platform::local_path(entry + "\\x.img"));
    EXPECT_EQ(outcome(request(1, name + "2/secret", "octet")), "4/13");
}

TEST_F(RequestTest, NamesAreCheckedAgainstTheBufferSizes) {
    std::string longName(1100, 'a');
    EXPECT_EQ(outcome(request(1, longName, "octet")), "4/12");
    std::string nearLimit(1023 - root_text().size(), 'b');
    EXPECT_EQ(outcome(request(1, nearLimit, "octet")), "4/12");
}

TEST_F(RequestTest, OptionAcknowledgementListsTheAcceptedOptions) {
    ASSERT_TRUE(platform::start_network());
    platform::Socket server = platform::open_udp_socket(127u | (1u << 24), 0);
    platform::Socket client = platform::open_udp_socket(127u | (1u << 24), 0);
    platform::Endpoint clientAt;
    ASSERT_TRUE(platform::local_endpoint(client, &clientAt));
    ASSERT_TRUE(platform::connect_udp(server, clientAt));
    TransferSession s{};
    uint8_t packet[kMaxOackSize];
    s.packet = packet;
    s.dataSocket = server;
    s.optionFlags = kOptionBlksize | kOptionTsize;
    s.blockSize = 1468;
    s.transferSize = 123456;
    const std::string expected(
        "\0\6blksize\0"
        "1468\0tsize\0"
        "123456\0",
        28);
    EXPECT_EQ(send_oack(&s), static_cast<int>(expected.size()));
    char received[256];
    bool readable = false;
    ASSERT_EQ(platform::wait_readable(&client, 1, 2000, &readable), 1);
    int n = platform::receive_udp(client, received, sizeof received, nullptr);
    EXPECT_EQ(std::string(received, static_cast<std::size_t>(std::max(n, 0))), expected);
    platform::close_udp_socket(server);
    platform::close_udp_socket(client);
    platform::stop_network();
}

#if defined(_WIN32)
TEST_F(RequestTest, DeviceNamesAreInvalidPathsInAnyDirectory) {
    for (const char* name : {"NUL", "con.txt", "sub/aux", "COM1.log", "lpt9"})
        EXPECT_EQ(outcome(request(1, name, "octet")), "4/11") << name;
    EXPECT_EQ(outcome(request(1, "console.txt", "octet")), "1/1");
}
#else
TEST_F(RequestTest, UploadsNeverLeaveTheRootThroughLinks) {
    fs::create_directories(dir_.path() / "outside");
    fs::create_directory_symlink(dir_.path() / "outside", root_ / "escape");
    fs::create_symlink(dir_.path() / "outside" / "target", root_ / "link.img");
    EXPECT_EQ(outcome(request(2, "escape/evil.img", "octet")), "2/2");
    EXPECT_EQ(outcome(request(2, "link.img", "octet")), "2/2");
    EXPECT_FALSE(fs::exists(dir_.path() / "outside" / "evil.img"));
    EXPECT_FALSE(fs::exists(dir_.path() / "outside" / "target"));
    // Reading through a link placed in the root stays allowed.
    dir_.write("outside/shared.img", "shared");
    fs::create_symlink(dir_.path() / "outside" / "shared.img", root_ / "shared.img");
    EXPECT_EQ(outcome(request(1, "shared.img", "octet")), "ok");
}

TEST_F(RequestTest, SpecialFilesAreNeverOpened) {
    ASSERT_EQ(mkfifo((root_ / "fifo").c_str(), 0600), 0);
    fs::create_directories(root_ / "dir");
    EXPECT_EQ(outcome(request(1, "fifo", "octet")), "1/1");
    EXPECT_EQ(outcome(request(2, "fifo", "octet")), "2/2");
    EXPECT_EQ(outcome(request(2, "dir", "octet")), "2/2");
}
#endif

}  // namespace
