// The control pipe's dispatcher, fed a conversation of one connection. An
// input is a series of requests, each as one flag byte, a 16-bit length
// (little-endian) and that many bytes of message (cut at 4096). Flag bit 0
// gives the write permission; bit 1 puts the token last handed out at offset
// 8, as a client sends back what it received. Every reply must fit the
// message and end its texts inside it.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>

#include "service/pipe_dispatch.h"
#include "platform/store.h"
#include "settings/settings.h"

namespace {

namespace fs = std::filesystem;

// A log directory with a few files and a store, made once per process.
struct World {
    fs::path dir = fs::temp_directory_path() / "pravlen-fuzz-pipe";
    fs::path logs = dir / "log";
    std::set<std::string> seeded;

    World() {
        fs::remove_all(dir);
        fs::create_directories(logs / "tftpdir.log");
        std::ofstream(logs / "tftp2401.log") << "first\nsecond\r\nlast";
        std::ofstream(logs / "tftp2402.log") << std::string(5000, 'l') << "\n";
        std::ofstream(logs / "empty.log");
        for (const auto& entry : fs::directory_iterator(logs))
            seeded.insert(entry.path().filename().string());
        platform::store_use_file((dir / "Pravlen.reg").string());
        (void)platform::store_write(kMainSection, "LogDir", (logs.string() + "/").c_str());
        set_default_directory((dir.string() + "/").c_str());
        load_main_settings(kMainSection);
        load_multicast_settings(kMainSection);
        load_pxe_settings(kMainSection);
    }

    // Files a write-permitted open created; they would pile up otherwise.
    void remove_new_files() const {
        for (const auto& entry : fs::directory_iterator(logs))
            if (!seeded.count(entry.path().filename().string())) fs::remove_all(entry.path());
    }
};

void check_reply(const PipeMessage& m, std::size_t size, int32_t command) {
    if (size < sizeof(int32_t) || size > kPipeMessageSize) std::abort();
    if (m.code != kPipeDone) return;
    if (command == kPipeReadLine && size > kPipeHeaderSize &&
        m.payload[size - kPipeHeaderSize - 1] != '\0') {
        std::abort();
    }
    if ((command == kPipeFindFirst || command == kPipeFindNext) && size == kPipeFindReplySize) {
        const auto* found = reinterpret_cast<const LogFindData*>(m.payload + kPipeTokenSize);
        if (!std::memchr(found->fileName, '\0', sizeof found->fileName)) std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    static World world;
    PipeHandles handles;
    uint64_t lastToken = 0;
    bool wrote = false;
    while (size >= 3) {
        uint8_t flags = data[0];
        std::size_t length = std::min<std::size_t>(data[1] | data[2] << 8, size - 3);
        PipeMessage m{};
        std::size_t received = std::min(length, kPipeMessageSize);
        std::memcpy(&m, data + 3, received);
        if ((flags & 2) && received >= kPipeHeaderSize + kPipeTokenSize)
            std::memcpy(m.payload, &lastToken, sizeof lastToken);
        int32_t command = received >= sizeof m.code ? m.code : 0;
        wrote = wrote || ((flags & 1) && command == kPipeOpenLog);
        dispatch_pipe_command(flags & 1, m, &received, handles);
        check_reply(m, received, command);
        if (m.code == kPipeDone && received >= kPipeOpenReplySize &&
            (command == kPipeFindFirst || command == kPipeOpenLog)) {
            std::memcpy(&lastToken, m.payload, sizeof lastToken);
        }
        data += 3 + length;
        size -= 3 + length;
    }
    if (wrote) world.remove_new_files();
    return 0;
}
