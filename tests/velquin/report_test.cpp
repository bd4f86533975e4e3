// What velquin prints for the state, the transfers and the settings, as
// text and as JSON.
#include "velquin/report.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

TEST(ReportTest, JsonStringsAreEscaped) {
    struct Case {
        const char* text;
        const char* json;
    };
    const Case cases[] = {
        {"plain", "\"plain\""},
        {"a\"b\\c", "\"a\\\"b\\\\c\""},
        {"C:\\tftp\\", "\"C:\\\\tftp\\\\\""},
        {"line\nnext\r\t", "\"line\\nnext\\r\\t\""},
        {"\x01\x1f\x7f", "\"\\u0001\\u001f\\u007f\""},
        {"\xc3\xa4", "\"\xc3\xa4\""},
        {"", "\"\""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(json_string(c.text), c.json);
    }
}

ServerState serving(int32_t port, uint32_t address, int32_t running) {
    ServerState state;
    state.reachable = true;
    state.settings.Port = port;
    state.settings.Address = address;
    state.running = running;
    return state;
}

TEST(ReportTest, StatusAsTheBottomBarTellsIt) {
    struct Case {
        const char* what;
        ServerState state;
        const char* text;
        const char* json;
    };
    ServerState paused = serving(69, 0, 0);
    paused.paused = true;
    ServerState failed = serving(69, 0, 0);
    failed.settings.listenFailed = 1;
    const Case cases[] = {
        {"serving on every interface", serving(69, 0, 2),
         "Listening on Port 69\nActive Clients: 2\n",
         "{\"state\":\"serving\",\"port\":69,\"address\":\"\",\"running\":2}\n"},
        {"serving on one address", serving(6969, 127u | (1u << 24), 0),
         "Listening on Port 6969   IP 127.0.0.1\nActive Clients: 0\n",
         "{\"state\":\"serving\",\"port\":6969,\"address\":\"127.0.0.1\",\"running\":0}\n"},
        {"paused", paused, "Server paused\nActive Clients: 0\n",
         "{\"state\":\"paused\",\"port\":69,\"address\":\"\",\"running\":0}\n"},
        {"port failed", failed, "Failed to listen on Port 69\nActive Clients: 0\n",
         "{\"state\":\"port failed\",\"port\":69,\"address\":\"\",\"running\":0}\n"},
        {"not running", ServerState{}, "TFTP Server service not active\n",
         "{\"state\":\"not running\"}\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(status_report(c.state, false), c.text);
        EXPECT_EQ(status_report(c.state, true), c.json);
    }
}

TransferSession download(const char* name, uint32_t blocks, uint32_t size, int32_t status) {
    TransferSession s{};
    s.opcode = kOpReadRequest;
    s.mode = kModeOctet;
    s.blockSize = 512;
    s.blockNumber = blocks;
    s.transferSize = size;
    s.status = status;
    s.clientAddress = 10u | (5u << 24);
    s.clientPort = static_cast<uint16_t>((1234 >> 8) | ((1234 & 0xFF) << 8));
    std::strcpy(s.fileName, name);
    return s;
}

TEST(ReportTest, TransferLines) {
    struct Case {
        const char* what;
        TransferSession session;
        const char* root;
        const char* file;
        uint32_t bytes;
        const char* percent;
        const char* state;
    };
    const Case cases[] = {
        {"running below the root", download("/srv/tftp/boot\\a.img", 4, 5000, -1), "/srv/tftp/",
         "boot\\a.img", 2048, "40 %", "running"},
        {"completed, short last block", download("/srv/tftp/a", 10, 5000, 0), "/srv/tftp/", "a",
         5000, "100 %", "completed"},
        {"failed, size unknown", download("/srv/tftp/a", 3, 0, 2), "/srv/tftp/", "a", 1536, "",
         "failed"},
        {"outside the root (a prefix entry)", download("/images/x", 0, 10, -1), "/srv/tftp/",
         "/images/x", 0, "0 %", "running"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TransferLine line = transfer_line(c.session, c.root);
        EXPECT_EQ(line.client, "10.0.0.5");
        EXPECT_EQ(line.port, 1234);
        EXPECT_EQ(line.operation, "Get/octet");
        EXPECT_EQ(line.file, c.file);
        EXPECT_EQ(line.bytes, c.bytes);
        EXPECT_EQ(line.percent, c.percent);
        EXPECT_EQ(line.state, c.state);
    }
}

TEST(ReportTest, TransfersReport) {
    std::vector<TransferLine> lines = {
        transfer_line(download("/r/a \"b\".img", 4, 5000, -1), "/r/")};
    EXPECT_EQ(transfers_report({}, false), "");
    EXPECT_EQ(transfers_report({}, true), "[]\n");
    EXPECT_EQ(transfers_report(lines, false),
              "CLIENT          OPERATION         BYTES PERCENT STATE     FILE\n"
              "10.0.0.5        Get/octet          2048    40 % running   a \"b\".img\n");
    EXPECT_EQ(
        transfers_report(lines, true),
        "[{\"client\":\"10.0.0.5\",\"port\":1234,\"operation\":\"Get/octet\","
        "\"file\":\"a \\\"b\\\".img\",\"bytes\":2048,\"size\":5000,\"state\":\"running\"}]\n");
}

TEST(ReportTest, SettingsAsLinesAndJson) {
    SettingsRecords records;
    records.server.Port = 69;
    std::strcpy(records.server.RootDirectory, "C:\\tftp\\");
    records.multicast.MulticastIp = 224u | (1u << 24);
    std::vector<const SettingName*> settings = {find_setting("Port"), find_setting("RootDirectory"),
                                                find_setting("MulticastIp")};
    EXPECT_EQ(settings_report(settings, records, false),
              "Port=69\nRootDirectory=C:\\tftp\\\nMulticastIp=224.0.0.1\n");
    EXPECT_EQ(settings_report(settings, records, true),
              "{\"Port\":69,\"RootDirectory\":\"C:\\\\tftp\\\\\",\"MulticastIp\":\"224.0.0.1\"}\n");
}

}  // namespace
