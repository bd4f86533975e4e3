// The download and upload steps, driven directly: block reads at the edges
// of the block size, and whole transfers on a loopback socket pair around
// the block-65535 wrap and the upload's failure cases.
#include "engine/transfer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "engine/download.h"
#include "engine/file_view.h"
#include "engine/packets.h"
#include "engine/upload.h"
#include "log/transfer_log.h"
#include "platform/clock.h"
#include "platform/udp.h"
#include "settings/settings.h"
#include "tests/support/temp_dir.h"

namespace {

constexpr uint32_t kLoopback = 127u | (1u << 24);

// Bytes that tell every offset apart.
std::string pattern(std::size_t size) {
    std::string bytes(size, '\0');
    for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>((i * 7 + i / 251) % 256);
    return bytes;
}

class TransferTest : public testing::Test {
  protected:
    static void SetUpTestSuite() { ASSERT_TRUE(platform::start_network()); }
    static void TearDownTestSuite() { platform::stop_network(); }

    void TearDown() override {
        release_file(&session_);
        std::free(session_.packet);
        std::free(session_.secondPacket);
        session_ = TransferSession{};
    }

    // A record reading `bytes` with blocks of `blockSize`, from a stream or
    // from a view.
    TransferSession& reading(const std::string& bytes, uint16_t blockSize, bool view) {
        std::string path = dir_.write("file.bin", bytes).string();
        std::snprintf(session_.fileName, sizeof session_.fileName, "%s", path.c_str());
        session_.blockSize = blockSize;
        session_.lastReadBlock = ~0u;
        session_.timeoutSeconds = 1;
        session_.packet = static_cast<uint8_t*>(std::malloc(packet_buffer_size(blockSize)));
        if (!view || !attach_file_view(&session_, ~0u)) {
            session_.file = std::fopen(path.c_str(), "rb");
            session_.transferSize = static_cast<uint32_t>(bytes.size());
        }
        return session_;
    }

    TransferSession& writing(uint16_t blockSize, const char* mode = "wb") {
        std::string path = dir_.write("upload.bin", "").string();
        session_.file = std::fopen(path.c_str(), mode);
        session_.opcode = kOpWriteRequest;
        session_.blockSize = blockSize;
        session_.timeoutSeconds = 1;
        session_.packet = static_cast<uint8_t*>(std::malloc(packet_buffer_size(blockSize)));
        return session_;
    }

    TempDir dir_;
    TransferSession session_{};
};

// A transfer's connected data socket and the client at its other end.
class Loopback {
  public:
    explicit Loopback(TransferSession& s) : session_(s) {
        client_ = platform::open_udp_socket(kLoopback, 0);
        socket_ = platform::open_udp_socket(kLoopback, 0);
        s.dataSocket = socket_;
        platform::Endpoint clientAt;
        EXPECT_TRUE(platform::local_endpoint(client_, &clientAt));
        EXPECT_TRUE(platform::local_endpoint(socket_, &server_));
        EXPECT_TRUE(platform::connect_udp(socket_, clientAt));
        s.clientAddress = clientAt.address;
        s.clientPort = clientAt.port;
    }
    ~Loopback() {
        if (worker_.joinable()) worker_.join();
        platform::close_udp_socket(client_);
        platform::close_udp_socket(socket_);
    }

    // A whole worker runs the transfer; it closes the data socket itself.
    void run_worker() {
        socket_ = kNoSocket;
        worker_ = std::thread([this] { transfer_worker(&session_); });
    }
    void join() { worker_.join(); }

    template <typename Loop>
    void run(Loop loop, TransferSettings settings) {
        worker_ = std::thread([this, loop, settings] { result_ = loop(&session_, settings); });
    }
    TransferResult result() {
        worker_.join();
        return result_;
    }

    void send(uint16_t opcode, uint16_t number, const std::string& body = "") {
        std::string p(4, '\0');
        put16(reinterpret_cast<uint8_t*>(p.data()), opcode);
        put16(reinterpret_cast<uint8_t*>(p.data()) + 2, number);
        send_raw(p + body);
    }
    void send_raw(const std::string& datagram) {
        platform::send_udp_to(client_, datagram.data(), datagram.size(), server_);
    }
    // The next datagram: opcode, number and body; opcode 0 when none came.
    struct Reply {
        uint16_t opcode = 0, number = 0;
        std::string body;
        std::string payload;  // everything after the opcode
    };
    Reply receive() {
        Reply r;
        bool readable = false;
        if (platform::wait_readable(&client_, 1, 5000, &readable) <= 0) return r;
        std::vector<uint8_t> buffer(70000);
        int n = platform::receive_udp(client_, buffer.data(), buffer.size(), nullptr);
        if (n < 4) return r;
        r.opcode = get16(buffer.data());
        r.number = get16(buffer.data() + 2);
        r.body.assign(reinterpret_cast<char*>(buffer.data()) + 4, static_cast<std::size_t>(n - 4));
        r.payload.assign(reinterpret_cast<char*>(buffer.data()) + 2,
                         static_cast<std::size_t>(n - 2));
        return r;
    }

  private:
    TransferSession& session_;
    platform::Socket client_ = kNoSocket;
    platform::Socket socket_ = kNoSocket;  // the transfer's data socket
    platform::Endpoint server_;
    std::thread worker_;
    TransferResult result_ = TransferResult::kStopped;
};

TEST_F(TransferTest, ReadsEveryBlockAtTheEdgesOfTheBlockSize) {
    for (std::size_t size : {0u, 1u, 511u, 512u, 513u, 1024u, 1536u, 1537u}) {
        for (bool view : {false, true}) {
            SCOPED_TRACE(testing::Message()
                         << size << " bytes from a " << (view ? "view" : "stream"));
            std::string bytes = pattern(size);
            TransferSession& s = reading(bytes, 512, view);
            std::vector<uint8_t> packet(packet_buffer_size(512));
            for (uint32_t index = 0;; ++index) {
                std::size_t offset = index * 512u;
                BlockRead block = read_block(&s, packet.data(), index);
                if (offset > size) {
                    EXPECT_EQ(block.status, BlockRead::Status::kPastEnd) << "block " << index;
                    break;
                }
                ASSERT_EQ(block.status, BlockRead::Status::kRead) << "block " << index;
                ASSERT_EQ(block.length, std::min<std::size_t>(512, size - offset));
                EXPECT_EQ(get16(packet.data()), kOpData);
                EXPECT_EQ(get16(packet.data() + 2), index + 1);
                EXPECT_EQ(std::string(reinterpret_cast<const char*>(block.data), block.length),
                          bytes.substr(offset, block.length));
            }
            TearDown();
        }
    }
}

// A resend after the pipeline restarted reads an earlier block again: the
// stream is repositioned, by seeking or, in text mode, by reading again.
TEST_F(TransferTest, RepositionsTheStreamForABlockOutOfSequence) {
    for (bool text : {false, true}) {
        SCOPED_TRACE(text ? "text" : "binary");
        std::string bytes = text ? "aaaaaaa\r\nbbbbbbb\r\nccccccc\r\n" : "aaaaaaaabbbbbbbbcccccccc";
        TransferSession& s = reading(bytes, 8, false);
        s.textMode = text;
        s.transferSize = 24;
        uint8_t packet[64];
        ASSERT_EQ(read_block(&s, packet, 0).length, 8u);
        ASSERT_EQ(read_block(&s, packet, 2).length, 8u);
        EXPECT_EQ(std::string(reinterpret_cast<char*>(packet) + 4, 8),
                  text ? "ccccccc\n" : "cccccccc");
        ASSERT_EQ(read_block(&s, packet, 1).length, 8u);
        EXPECT_EQ(std::string(reinterpret_cast<char*>(packet) + 4, 8),
                  text ? "bbbbbbb\n" : "bbbbbbbb");
        TearDown();
    }
}

// A file that shrank after the request cannot deliver the size announced:
// the download fails instead of sending a short block that would end it.
TEST_F(TransferTest, StreamShorterThanAnnouncedFailsTheBlock) {
    TransferSession& s = reading(std::string(600, 'x'), 512, false);
    s.transferSize = 2000;
    uint8_t packet[600];
    EXPECT_EQ(read_block(&s, packet, 0).length, 512u);
    EXPECT_EQ(read_block(&s, packet, 1).status, BlockRead::Status::kUnreadable);
}

// Past block 65535 only the wire number wraps: the data goes on from the
// right offset with LargeFiles on or off; the record's counter wraps only
// without LargeFiles.
TEST_F(TransferTest, DownloadPassesBlock65535WithTheRightData) {
    const uint32_t start = 65533;
    std::string bytes = pattern((start + 4) * 8 + 3);
    for (bool largeFiles : {true, false}) {
        SCOPED_TRACE(largeFiles ? "LargeFiles" : "no LargeFiles");
        TransferSession& s = reading(bytes, 8, false);
        s.blockNumber = start;
        Loopback peer(s);
        TransferSettings settings;
        settings.largeFiles = largeFiles;
        settings.retransmit = 1;
        peer.run(send_file, settings);
        for (uint32_t index = start; index < start + 5; ++index) {
            Loopback::Reply r = peer.receive();
            ASSERT_EQ(r.opcode, kOpData);
            EXPECT_EQ(r.number, static_cast<uint16_t>(index + 1));
            EXPECT_EQ(r.body, bytes.substr(index * 8, 8));
            peer.send(kOpAck, r.number);
        }
        EXPECT_EQ(peer.result(), TransferResult::kCompleted);
        EXPECT_EQ(s.blockNumber, largeFiles ? start + 5 : 2u);
        TearDown();
    }
}

struct WrapCase {
    bool largeFiles;
    bool lateBlockAcknowledged;
    uint32_t finalCounter;
};

// An upload passing 65535: the blocks go on 65535, 0, 1; a late duplicate of
// a block from before the wrap is acknowledged (with LargeFiles) or ignored,
// and never written.
TEST_F(TransferTest, UploadPassesBlock65535AndSkipsALateDuplicate) {
    for (WrapCase c : {WrapCase{true, true, 65537}, WrapCase{false, false, 1}}) {
        SCOPED_TRACE(c.largeFiles ? "LargeFiles" : "no LargeFiles");
        TransferSession& s = writing(8);
        s.blockNumber = 65534;
        Loopback peer(s);
        TransferSettings settings;
        settings.largeFiles = c.largeFiles;
        peer.run(receive_file, settings);
        EXPECT_EQ(peer.receive().number, 65534);  // the answer to the request
        peer.send(kOpData, 65535, "AAAAAAAA");
        EXPECT_EQ(peer.receive().number, 65535);
        peer.send(kOpData, 0, "BBBBBBBB");
        EXPECT_EQ(peer.receive().number, 0);
        peer.send(kOpData, 65000, "XXXXXXXX");
        peer.send(kOpData, 1, "CC");
        Loopback::Reply r = peer.receive();
        if (c.lateBlockAcknowledged) {
            EXPECT_EQ(r.number, 65000);
            r = peer.receive();
        }
        EXPECT_EQ(r.opcode, kOpAck);
        EXPECT_EQ(r.number, 1);
        EXPECT_EQ(peer.result(), TransferResult::kCompleted);
        EXPECT_EQ(s.blockNumber, c.finalCounter);
        EXPECT_EQ(s.transferSize, 18u);
        release_file(&s);
        EXPECT_EQ(dir_.read("upload.bin"), "AAAAAAAABBBBBBBBCC");
        TearDown();
    }
}

TEST_F(TransferTest, ShortUploadBlockWithAnUnexpectedNumberDoesNotEndTheUpload) {
    TransferSession& s = writing(8);
    Loopback peer(s);
    peer.run(receive_file, TransferSettings{});
    EXPECT_EQ(peer.receive().number, 0);
    peer.send(kOpData, 1, "11111111");
    EXPECT_EQ(peer.receive().number, 1);
    peer.send(kOpData, 3, "3");
    peer.send(kOpData, 2, "22");
    EXPECT_EQ(peer.receive().number, 2);
    EXPECT_EQ(peer.result(), TransferResult::kCompleted);
    release_file(&s);
    EXPECT_EQ(dir_.read("upload.bin"), "1111111122");
}

// A failed upload closes its file before it publishes its end: an upload of
// the file admitted from then on (here: the test, writing it anew) must never
// have the old stream's held-back bytes written over its own. The log is held
// meanwhile, so that the worker stops at its first log line after the end.
TEST_F(TransferTest, FailedUploadClosesItsFileBeforeItsEndIsPublished) {
    reset_settings_for_testing();  // nothing logged before the end
    TransferSession& s = writing(512);
    s.status = -1;
    Loopback peer(s);
    std::unique_lock holdLog(log_lock());
    peer.run_worker();
    EXPECT_EQ(peer.receive().number, 0);
    peer.send(kOpData, 1, std::string(512, 'o'));
    EXPECT_EQ(peer.receive().number, 1);
    peer.send(kOpError, 0, "stop");
    int64_t deadline = platform::monotonic_ms() + 5000;
    while (std::atomic_ref<int32_t>(s.status).load() == -1 && platform::monotonic_ms() < deadline)
        std::this_thread::yield();
    ASSERT_EQ(std::atomic_ref<int32_t>(s.status).load(), 2);
    dir_.write("upload.bin", "again");
    holdLog.unlock();
    peer.join();
    EXPECT_EQ(dir_.read("upload.bin"), "again");
}

// A write that fails (here: a stream that cannot be written) ends the upload
// with the standard error instead of acknowledging data that was lost.
TEST_F(TransferTest, FailedWriteEndsTheUploadWithDiskFull) {
    TransferSession& s = writing(8, "rb");
    Loopback peer(s);
    peer.run(receive_file, TransferSettings{});
    EXPECT_EQ(peer.receive().number, 0);
    peer.send(kOpData, 1, "11111111");
    Loopback::Reply r = peer.receive();
    EXPECT_EQ(r.opcode, kOpError);
    EXPECT_EQ(r.number, 3);
    EXPECT_STREQ(r.body.c_str(), "Disk full or allocation exceeded");
    EXPECT_EQ(peer.result(), TransferResult::kFileFailure);
}

// An error packet from the client ends either loop whatever its length: a
// long text is kept short and printable, and a packet too short for its text
// or its code is still the client saying stop.
TEST_F(TransferTest, ClientErrorPacketOfAnyLengthEndsTheTransfer) {
    const struct {
        const char* what;
        std::string packet;  // after the opcode
        std::string peerError;
    } cases[] = {
        {"long text", std::string("\0\1Disk\nfull", 11) + std::string(200, 'x') + '\0',
         "1 Disk.full" + std::string(116 - 9, 'x')},
        {"no text", std::string("\0\2", 2), "2 "},
        {"half a code", std::string("\0", 1), "0 "},
        {"no code", "", "0 "},
    };
    for (bool upload : {false, true}) {
        for (const auto& c : cases) {
            SCOPED_TRACE(testing::Message() << c.what << (upload ? ", upload" : ", download"));
            TransferSession& s = upload ? writing(512) : reading("data", 512, false);
            Loopback peer(s);
            if (upload)
                peer.run(receive_file, TransferSettings{});
            else
                peer.run(send_file, TransferSettings{});
            EXPECT_NE(peer.receive().opcode, 0);  // ack 0, or block 1
            peer.send_raw(std::string("\0\5", 2) + c.packet);
            EXPECT_EQ(peer.result(), TransferResult::kAbortedByClient);
            EXPECT_EQ(std::string(s.peerError), c.peerError);
            TearDown();
        }
    }
}

// A write request is answered by acknowledgement 0, or with options by the
// option acknowledgement, whose tsize echoes the size the client announced.
TEST_F(TransferTest, UploadAnswersItsRequest) {
    const struct {
        uint32_t flags;
        uint16_t opcode;
        std::string options;
    } cases[] = {
        {0, kOpAck, ""},
        {kOptionTsize, kOpOack,
         std::string("tsize\0"
                     "1234\0",
                     11)},
        {kOptionBlksize | kOptionTsize, kOpOack,
         std::string("blksize\0"
                     "8\0tsize\0"
                     "1234\0",
                     21)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.flags);
        TransferSession& s = writing(8);
        s.optionFlags = c.flags;
        s.transferSize = 1234;
        Loopback peer(s);
        peer.run(receive_file, TransferSettings{});
        Loopback::Reply r = peer.receive();
        EXPECT_EQ(r.opcode, c.opcode);
        EXPECT_EQ(r.payload, c.opcode == kOpAck ? std::string(2, '\0') : c.options);
        peer.send(kOpData, 1, "end");
        EXPECT_EQ(peer.receive().number, 1);
        EXPECT_EQ(peer.result(), TransferResult::kCompleted);
        EXPECT_EQ(s.transferSize, 3u) << "the bytes stored";
        TearDown();
    }
}

}  // namespace
