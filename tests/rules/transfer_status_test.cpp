// Transfer rows and the state line, as the status view and the command-line
// tool show them.
#include "rules/transfer_status.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

TransferSession session(uint16_t blockSize, uint32_t blocks, uint32_t size, int32_t status) {
    TransferSession s{};
    s.opcode = kOpReadRequest;
    s.mode = kModeOctet;
    s.blockSize = blockSize;
    s.blockNumber = blocks;
    s.transferSize = size;
    s.status = status;
    return s;
}

struct ProgressCase {
    const char* what;
    TransferSession record;
    bool percent;
    const char* text;
    int icon;
};

TEST(TransferStatusTest, ProgressTextAndIcon) {
    const ProgressCase cases[] = {
        {"a million bytes after 1000 blocks", session(512, 1000, 1000000, -1), true, "51 %", 7},
        {"the same without percent", session(512, 1000, 1000000, -1), false, "512000 b", 7},
        {"5000 bytes after 4 blocks", session(512, 4, 5000, -1), true, "40 %", 6},
        {"a short last block", session(512, 10, 5000, -1), true, "100 %", kIconComplete},
        {"short last block in bytes", session(512, 10, 5000, 0), false, "5000 b", kIconComplete},
        {"unknown size running", session(512, 3, 0, -1), true, "1536 b", kIconSizeUnknown},
        {"unknown size complete", session(512, 3, 0, 0), true, "1536 b", kIconComplete},
        {"unknown size failed", session(512, 3, 0, 2), true, "1536 b", kIconFailed},
        {"failed at half", session(512, 1, 1024, 1), true, "50 %", kIconFailed},
        {"failed when done", session(512, 2, 1024, 3), true, "100 %", kIconFailed},
        {"nothing yet", session(512, 0, 1024, -1), true, "0 %", 0},
        {"4 GiB file at 3 GiB", session(65464, 49210, 0xFFFFFFFF, -1), true, "75 %", 11},
    };
    for (const ProgressCase& c : cases) {
        SCOPED_TRACE(c.what);
        TransferRow row = transfer_row(c.record, 0, c.percent);
        EXPECT_EQ(row.progress, c.text);
        EXPECT_EQ(row.icon, c.icon);
    }
}

TEST(TransferStatusTest, IconSpansAllFifteenthsAndStaysInRange) {
    EXPECT_EQ(progress_icon(0, 15, -1), 0);
    for (uint32_t done = 0; done <= 15; ++done) EXPECT_EQ(progress_icon(done, 15, -1), done);
    // Large sizes take the division that cannot overflow.
    EXPECT_EQ(progress_icon(0x11111112u, 0xFFFFFFFFu, -1), 1);
    EXPECT_EQ(progress_icon(0xFFFFFFFFu, 0xFFFFFFFFu, -1), 15);
    EXPECT_EQ(progress_icon(0xFFFFFFFFu, 0x20000000u, -1), 15);
}

TEST(TransferStatusTest, OperationColumn) {
    EXPECT_EQ(operation_text(kOpReadRequest, kModeOctet), "Get/octet");
    EXPECT_EQ(operation_text(kOpWriteRequest, kModeNetascii), "Put/ascii");
    EXPECT_EQ(operation_text(kOpReadRequest, kModeMail), "Get/mail ");
    EXPECT_EQ(operation_text(kOpData, kModeOctet), "octet");
    EXPECT_EQ(operation_text(kOpReadRequest, kModeNone), "Get/");
    // A mode the server never sends shows no name rather than reading past
    // the table.
    EXPECT_EQ(operation_text(kOpReadRequest, 4), "Get/");
    EXPECT_EQ(operation_text(kOpReadRequest, -1), "Get/");
}

TEST(TransferStatusTest, AddressAndFileBelowTheRoot) {
    TransferSession s = session(512, 1, 100, -1);
    s.clientAddress = 10u | (0u << 8) | (0u << 16) | (5u << 24);
    std::strcpy(s.fileName, "C:\\tftp\\boot\\pxelinux.0");
    TransferRow row = transfer_row(s, std::strlen("C:\\tftp\\"), true);
    EXPECT_EQ(row.address, "10.0.0.5");
    EXPECT_EQ(row.file, "boot\\pxelinux.0");
    EXPECT_EQ(transfer_row(s, std::strlen(s.fileName), true).file, "");
    EXPECT_EQ(transfer_row(s, 2000, true).file, "");
}

TEST(TransferStatusTest, FileNameWithoutNulIsBoundedByTheRecord) {
    TransferSession s = session(512, 1, 100, -1);
    std::memset(s.fileName, 'x', sizeof s.fileName);
    std::memset(s.peerError, 'y', sizeof s.peerError);
    EXPECT_EQ(transfer_row(s, 1000, true).file, std::string(24, 'x'));
}

StatusTexts english() { return english_status_texts(); }

TEST(TransferStatusTest, StateLine) {
    ServerSettings settings{};
    settings.Port = 69;
    settings.Address = 10u | (5u << 24);
    EXPECT_EQ(compose_state_line(settings, english(), false, false),
              " Listening on Port 69   IP 10.0.0.5");
    settings.Address = 0;
    EXPECT_EQ(compose_state_line(settings, english(), false, false), " Listening on Port 69");
    settings.listenFailed = 1;
    EXPECT_EQ(compose_state_line(settings, english(), false, false),
              " Failed to listen on Port 69");
    EXPECT_EQ(compose_state_line(settings, english(), true, false), "Server paused");
    EXPECT_EQ(compose_state_line(settings, english(), true, true),
              "TFTP Server service not active");
}

TEST(TransferStatusTest, StateLineIsCutAt79Characters) {
    StatusTexts texts = english();
    texts.ready = std::string(100, 'r');
    ServerSettings settings{};
    settings.Port = 69;
    EXPECT_EQ(compose_state_line(settings, texts, false, false), " " + std::string(78, 'r'));
}

}  // namespace
