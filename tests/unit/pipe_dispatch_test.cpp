// The control pipe's dispatcher over a message buffer: every command's reply
// size and status, with and without the write permission, and the requests
// it must refuse without changing anything.
#include "service/pipe_dispatch.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <string>

#include "engine/client_list.h"
#include "engine/server.h"
#include "platform/files.h"
#include "platform/store.h"
#include "settings/settings.h"
#include "tests/support/temp_dir.h"

namespace {

constexpr bool kWrite = true;
constexpr bool kReadOnly = false;

// Texts each followed by its NUL, as the requests of commands 41 and 44 hold them.
std::string texts(std::initializer_list<std::string> parts) {
    std::string out;
    for (const std::string& part : parts) out += part + '\0';
    return out;
}

class PipeDispatchTest : public testing::Test {
  protected:
    void SetUp() override {
        reset_settings_for_testing();
        reset_client_list_for_testing();
        set_paused(false);
        set_default_directory(dir_.dir_text().c_str());
        platform::store_use_file((dir_.path() / "Pravlen.reg").string());
        logDir_ = dir_.dir_text() + "log" + dir_.dir_text().back();
        std::filesystem::create_directories(dir_.path() / "log");
        ASSERT_TRUE(platform::store_write(kMainSection, "LogDir", logDir_.c_str()));
        load_main_settings(kMainSection);
        load_multicast_settings(kMainSection);
        load_pxe_settings(kMainSection);
    }
    void TearDown() override {
        reset_client_list_for_testing();
        set_paused(false);
        platform::store_use_file("");
    }

    // Dispatches a request of the header and `payload`; returns the reply size.
    std::size_t run(bool mayWrite,
                    int32_t code,
                    int32_t argument,
                    const std::string& payload = "",
                    PipeHandles* handles = nullptr) {
        std::memset(&m_, 0, sizeof m_);
        m_.code = code;
        m_.argument = argument;
        std::memcpy(m_.payload, payload.data(), payload.size());
        std::size_t size = kPipeHeaderSize + payload.size();
        EXPECT_EQ(dispatch_pipe_command(mayWrite, m_, &size, handles ? *handles : handles_), 1);
        return size;
    }
    std::size_t run_with_token(int32_t code, uint64_t token, PipeHandles* handles = nullptr) {
        return run(kReadOnly, code, 0, std::string(reinterpret_cast<char*>(&token), 8), handles);
    }
    uint64_t reply_token() const {
        uint64_t token;
        std::memcpy(&token, m_.payload, sizeof token);
        return token;
    }
    const LogFindData& reply_found() const {
        return *reinterpret_cast<const LogFindData*>(m_.payload + kPipeTokenSize);
    }
    void write_log(const std::string& name, const std::string& text) {
        dir_.write("log/" + name, text);
    }
    uint64_t open_log(const std::string& name, const std::string& mode = "r") {
        EXPECT_EQ(run(kWrite, kPipeOpenLog, 0, texts({name, mode})), kPipeOpenReplySize);
        return reply_token();
    }
    static std::string stored(const char* name) {
        std::string value;
        return platform::store_read(kMainSection, name, &value) ? value : "(none)";
    }

    TempDir dir_;
    std::string logDir_;
    PipeMessage m_;
    PipeHandles handles_;
};

TEST_F(PipeDispatchTest, RecordsAreFetchedWhole) {
    Settings s = current_settings();
    struct Case {
        int32_t command;
        const void* record;
        std::size_t size;
    } cases[] = {{kPipeGetSettings, &s.server, sizeof s.server},
                 {kPipeGetMulticast, &s.multicast, sizeof s.multicast},
                 {kPipeGetPxe, &s.pxe, sizeof s.pxe}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.command);
        for (bool mayWrite : {kWrite, kReadOnly}) {
            EXPECT_EQ(run(mayWrite, c.command, 0), kPipeHeaderSize + c.size);
            EXPECT_EQ(m_.code, kPipeDone);
            EXPECT_EQ(m_.argument, static_cast<int32_t>(c.size));
            EXPECT_EQ(std::memcmp(m_.payload, c.record, c.size), 0);
        }
    }
}

TEST_F(PipeDispatchTest, MainSettingsAreReplacedOnlyWithPermissionAndTheExactLength) {
    ServerSettings changed = current_settings().server;
    changed.Timeout = 4;
    std::string record(reinterpret_cast<const char*>(&changed), sizeof changed);
    struct Case {
        bool mayWrite;
        int32_t length;
        std::string payload;
        int32_t status;
    } cases[] = {
        {kReadOnly, 2120, record, kPipeRefused},
        {kWrite, 2119, record.substr(0, 2119), kPipeSetSettings},
        {kWrite, 2121, record + 'x', kPipeSetSettings},
        {kWrite, 2120, record.substr(0, 100), kPipeSetSettings},  // the record is not all there
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.length);
        EXPECT_EQ(run(c.mayWrite, kPipeSetSettings, c.length, c.payload), 4u);
        EXPECT_EQ(m_.code, c.status);
        EXPECT_EQ(current_settings().server.Timeout, 1);
        EXPECT_EQ(stored("Timeout"), "(none)");
    }
    EXPECT_EQ(run(kWrite, kPipeSetSettings, 2120, record), 4u);
    EXPECT_EQ(m_.code, kPipeDone);
    EXPECT_EQ(current_settings().server.Timeout, 4);
    EXPECT_EQ(stored("Timeout"), "4");
}

TEST_F(PipeDispatchTest, SmallRecordsAreReplacedOnlyWithPermissionAndTheExactLength) {
    MulticastSettings multicast = current_settings().multicast;
    multicast.MulticastTTL = 9;
    PxeSettings pxe = current_settings().pxe;
    pxe.PxeBlocksize = 1000;
    struct Case {
        int32_t command;
        std::string record;
        const char* key;
        const char* value;
    } cases[] = {
        {kPipeSetMulticast, std::string(reinterpret_cast<char*>(&multicast), 16), "MulticastTTL",
         "9"},
        {kPipeSetPxe, std::string(reinterpret_cast<char*>(&pxe), 16), "PXEblocksize", "1000"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.command);
        EXPECT_EQ(run(kReadOnly, c.command, 16, c.record), 4u);
        EXPECT_EQ(m_.code, kPipeRefused);
        EXPECT_EQ(run(kWrite, c.command, 15, c.record.substr(0, 15)), 4u);
        EXPECT_EQ(m_.code, c.command);
        EXPECT_EQ(run(kWrite, c.command, 16, c.record.substr(0, 8)), 4u);
        EXPECT_EQ(m_.code, c.command);
        EXPECT_EQ(stored(c.key), "(none)");
        EXPECT_EQ(run(kWrite, c.command, 16, c.record), 4u);
        EXPECT_EQ(m_.code, kPipeDone);
        EXPECT_EQ(stored(c.key), c.value);
    }
    EXPECT_EQ(current_settings().multicast.MulticastTTL, 9);
    EXPECT_EQ(current_settings().pxe.PxeBlocksize, 1000);
}

TEST_F(PipeDispatchTest, TextFieldsOfAReceivedRecordEndInsideTheirBuffers) {
    ServerSettings s = current_settings().server;
    std::memset(s.Prefix, 'p', sizeof s.Prefix);
    std::memset(s.RootDirectory, 'r', sizeof s.RootDirectory);
    ASSERT_EQ(run(kWrite, kPipeSetSettings, 2120, std::string(reinterpret_cast<char*>(&s), 2120)),
              4u);
    EXPECT_EQ(m_.code, kPipeDone);
    Settings now = current_settings();
    EXPECT_EQ(strnlen(now.server.RootDirectory, sizeof now.server.RootDirectory), 1023u);
    EXPECT_EQ(strnlen(now.server.Prefix, sizeof now.server.Prefix), 0u);  // never saved
}

TEST_F(PipeDispatchTest, PauseChangesAndStoresTheStateOnlyWithPermission) {
    struct Case {
        bool mayWrite;
        int32_t action;
        int32_t paused;
        const char* stop;
    } cases[] = {
        {kReadOnly, 0, 0, "(none)"}, {kWrite, 0, 1, "1"},      {kReadOnly, 1, 1, "1"},
        {kReadOnly, -1, 1, "1"},     {kWrite, 5, 1, "1"},      {kWrite, -1, 1, "1"},
        {kWrite, 1, 0, "(none)"},    {kWrite, 5, 0, "(none)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.mayWrite << " " << c.action);
        // Another value in the store shows whether the state was written.
        if (c.action == 5 && c.paused) {
            ASSERT_TRUE(platform::store_write(kMainSection, "Stop", "7"));
        }
        EXPECT_EQ(run(c.mayWrite, kPipePause, c.action), 12u);
        EXPECT_EQ(m_.code, kPipeDone);
        EXPECT_EQ(m_.argument, 4);
        int32_t flag;
        std::memcpy(&flag, m_.payload, sizeof flag);
        EXPECT_EQ(flag, c.paused);
        EXPECT_EQ(paused(), c.paused != 0);
        EXPECT_EQ(stored("Stop"), c.stop);
    }
}

TEST_F(PipeDispatchTest, TransferListIsWalkedToTheIndexWithTheRunningCount) {
    EXPECT_EQ(run(kReadOnly, kPipeGetTransfer, 0), kPipeHeaderSize);
    EXPECT_EQ(m_.code, kPipeDone);
    EXPECT_EQ(m_.argument, 0);
    for (uint16_t port : {100, 101}) {
        auto* s = static_cast<TransferSession*>(std::calloc(1, sizeof(TransferSession)));
        s->clientPort = port;
        append_transfer(s);
    }
    count_worker_started();
    for (int32_t index : {0, 1}) {
        EXPECT_EQ(run(kReadOnly, kPipeGetTransfer, index), kPipeTransferReplySize);
        EXPECT_EQ(m_.argument, 1);
        EXPECT_EQ(reinterpret_cast<TransferSession*>(m_.payload)->clientPort, 100 + index);
    }
    for (int32_t index : {2, -1, INT_MAX}) {
        SCOPED_TRACE(index);
        EXPECT_EQ(run(kReadOnly, kPipeGetTransfer, index), kPipeHeaderSize);
        EXPECT_EQ(m_.code, kPipeDone);
        EXPECT_EQ(m_.argument, 1);
    }
    count_worker_ended();
}

TEST_F(PipeDispatchTest, LogSearchListsMatchesUntilItEndsAndIsClosedOnce) {
    write_log("tftp2401.log", "a\n");
    write_log("tftp2402.log", "b\n");
    write_log("other.txt", "c\n");
    ASSERT_EQ(run(kReadOnly, kPipeFindFirst, 0, texts({"tftp*.log"})), kPipeFindReplySize);
    EXPECT_EQ(m_.code, kPipeDone);
    uint64_t search = reply_token();
    std::string names = reply_found().fileName;
    EXPECT_EQ(reply_found().sizeLow, 2u);
    ASSERT_EQ(run_with_token(kPipeFindNext, search), kPipeFindReplySize);
    EXPECT_NE(m_.argument, 0);
    names += std::string(",") + reply_found().fileName;
    EXPECT_TRUE(names == "tftp2401.log,tftp2402.log" || names == "tftp2402.log,tftp2401.log")
        << names;
    EXPECT_EQ(run_with_token(kPipeFindNext, search), kPipeHeaderSize);
    EXPECT_EQ(m_.code, kPipeDone);
    EXPECT_EQ(m_.argument, 0);
    EXPECT_EQ(run_with_token(kPipeFindClose, search), kPipeHeaderSize);
    EXPECT_NE(m_.argument, 0);
    for (int32_t command : {kPipeFindClose, kPipeFindNext}) {
        EXPECT_EQ(run_with_token(command, search), 4u);
        EXPECT_EQ(m_.code, kPipeRefused);
    }
}

TEST_F(PipeDispatchTest, LogSearchWithoutMatchGivesNoToken) {
    write_log("other.txt", "c\n");
    EXPECT_EQ(run(kReadOnly, kPipeFindFirst, 0, texts({"tftp*.log"})), kPipeHeaderSize);
    EXPECT_EQ(m_.code, kPipeDone);
    EXPECT_EQ(handles_.size(), 0u);
}

TEST_F(PipeDispatchTest, LogFileIsReadLineByLineAndClosedOnce) {
    write_log("tftp2401.log", "first\nlast");
    uint64_t stream = open_log("tftp2401.log");
    ASSERT_NE(stream, 0u);
    struct Line {
        std::size_t size;
        int32_t more;
        const char* text;
    } lines[] = {{8 + 7, 1, "first\n"}, {8 + 5, 1, "last"}, {8, 0, nullptr}, {8, 0, nullptr}};
    for (const Line& line : lines) {
        EXPECT_EQ(run_with_token(kPipeReadLine, stream), line.size);
        EXPECT_EQ(m_.code, kPipeDone);
        EXPECT_EQ(m_.argument, line.more);
        if (line.text) {
            EXPECT_STREQ(reinterpret_cast<char*>(m_.payload), line.text);
        }
    }
    EXPECT_EQ(run_with_token(kPipeCloseLog, stream), kPipeHeaderSize);
    EXPECT_EQ(m_.code, kPipeDone);
    EXPECT_EQ(m_.argument, 0);
    for (int32_t command : {kPipeCloseLog, kPipeReadLine}) {
        EXPECT_EQ(run_with_token(command, stream), 4u);
        EXPECT_EQ(m_.code, kPipeRefused);
    }
}

TEST_F(PipeDispatchTest, OpenModesOtherThanReadNeedThePermission) {
    write_log("tftp2401.log", "line\n");
    struct Case {
        const char* mode;
        bool mayWrite;
        bool opens;
    } cases[] = {
        {"r", kReadOnly, true},   {"R", kReadOnly, true},   {"a", kReadOnly, false},
        {"r+", kReadOnly, false}, {"rb", kReadOnly, false}, {"a", kWrite, true},
        {"A+", kWrite, true},     {"x", kWrite, false},     {"rw", kWrite, false},
        {"r++", kWrite, false},   {"", kWrite, false},      {"rbbb", kWrite, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.mode << " " << c.mayWrite);
        std::size_t size = run(c.mayWrite, kPipeOpenLog, 0, texts({"tftp2401.log", c.mode}));
        EXPECT_EQ(size, c.opens ? kPipeOpenReplySize : 4u);
        EXPECT_EQ(m_.code, c.opens ? kPipeDone : kPipeRefused);
        if (c.opens) {
            EXPECT_NE(reply_token(), 0u);
        }
    }
    EXPECT_EQ(dir_.read("log/tftp2401.log"), "line\n");
}

TEST_F(PipeDispatchTest, OnlyPlainNamesInsideTheLogDirectoryAreOpenedOrSearched) {
    write_log("tftp2401.log", "line\n");
    std::string longName(1030 - logDir_.size(), 'n');
    std::string unterminated(kPipePayloadSize, 'u');
    const std::string names[] = {
        "..\\Pravlen.reg",
        "../Pravlen.reg",
        "log\\tftp2401.log",
        "sub/tftp2401.log",
        "C:tftp2401.log",
        "..",
        "",
        longName,
    };
    for (const std::string& name : names) {
        SCOPED_TRACE(name.substr(0, 40));
        EXPECT_EQ(run(kWrite, kPipeOpenLog, 0, texts({name, "r"})), 4u);
        EXPECT_EQ(m_.code, kPipeRefused);
        EXPECT_EQ(run(kWrite, kPipeFindFirst, 0, texts({name})), 4u);
        EXPECT_EQ(m_.code, kPipeRefused);
    }
    // Device names, where the file system has them: opening CON would wait
    // for console input under the pipe lock.
    if (platform::is_device_name("CON")) {
        for (const char* device : {"CON", "nul.log", "COM1", "conin$"}) {
            EXPECT_EQ(run(kReadOnly, kPipeOpenLog, 0, texts({device, "r"})), 4u) << device;
            EXPECT_EQ(m_.code, kPipeRefused);
        }
    }
    // Texts that do not end inside the message.
    const std::string openRequests[] = {texts({"tftp2401.log"}) + "r", "tftp2401.log",
                                        unterminated};
    for (const std::string& request : openRequests) {
        EXPECT_EQ(run(kWrite, kPipeOpenLog, 0, request), 4u);
        EXPECT_EQ(m_.code, kPipeRefused);
    }
    for (const std::string& request : {std::string("tftp*.log"), unterminated}) {
        EXPECT_EQ(run(kWrite, kPipeFindFirst, 0, request), 4u);
        EXPECT_EQ(m_.code, kPipeRefused);
    }
    EXPECT_EQ(handles_.size(), 0u);
    EXPECT_EQ(open_log("missing.log"), 0u);
    EXPECT_EQ(m_.code, kPipeDone);
}

TEST_F(PipeDispatchTest, TokensThisConnectionWasNotGivenAreRefused) {
    write_log("tftp2401.log", "line\n");
    PipeHandles other;
    ASSERT_EQ(run(kReadOnly, kPipeFindFirst, 0, texts({"tftp*.log"}), &other), kPipeFindReplySize);
    uint64_t foreignSearch = reply_token();
    ASSERT_EQ(run(kReadOnly, kPipeOpenLog, 0, texts({"tftp2401.log", "r"}), &other),
              kPipeOpenReplySize);
    uint64_t foreignStream = reply_token();
    uint64_t ownStream = open_log("tftp2401.log");
    struct Case {
        int32_t command;
        uint64_t token;
    } cases[] = {
        {kPipeFindNext, foreignSearch}, {kPipeFindClose, foreignSearch},
        {kPipeReadLine, foreignStream}, {kPipeCloseLog, foreignStream},
        {kPipeFindNext, ownStream},     {kPipeReadLine, 0},
        {kPipeReadLine, ~0ull},         {kPipeCloseLog, 0x123456789ull},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.command << " " << c.token);
        EXPECT_EQ(run_with_token(c.command, c.token), 4u);
        EXPECT_EQ(m_.code, kPipeRefused);
    }
    // A request too short to hold its token.
    for (int32_t command : {kPipeFindNext, kPipeFindClose, kPipeCloseLog, kPipeReadLine}) {
        EXPECT_EQ(run(kReadOnly, command, 8, "1234567"), 4u);
        EXPECT_EQ(m_.code, kPipeRefused);
    }
    EXPECT_EQ(other.size(), 2u);
    EXPECT_EQ(handles_.size(), 1u);
}

TEST_F(PipeDispatchTest, AConnectionHoldsABoundedNumberOfHandles) {
    write_log("tftp2401.log", "line\n");
    uint64_t first = open_log("tftp2401.log");
    for (std::size_t i = 1; i < PipeHandles::kCapacity; ++i)
        ASSERT_NE(open_log("tftp2401.log"), 0u);
    EXPECT_EQ(open_log("tftp2401.log"), 0u);
    EXPECT_EQ(run(kReadOnly, kPipeFindFirst, 0, texts({"tftp*.log"})), kPipeHeaderSize);
    EXPECT_EQ(run_with_token(kPipeCloseLog, first), kPipeHeaderSize);
    EXPECT_NE(open_log("tftp2401.log"), 0u);
}

TEST_F(PipeDispatchTest, UnknownCommandsAndShortRequestsChangeNothing) {
    for (int32_t command : {0, 9, 40, 47, -1, INT_MAX}) {
        EXPECT_EQ(run(kWrite, command, 0), 4u);
        EXPECT_EQ(m_.code, kPipeUnknownCommand);
    }
    for (std::size_t received : {0, 3, 4, 7}) {
        SCOPED_TRACE(received);
        std::memset(&m_, 0, sizeof m_);
        m_.code = kPipePause;
        m_.argument = kPipePauseServing;
        std::size_t size = received;
        dispatch_pipe_command(kWrite, m_, &size, handles_);
        EXPECT_EQ(size, 4u);
        EXPECT_EQ(m_.code, kPipeRefused);
        EXPECT_FALSE(paused());
    }
}

}  // namespace
