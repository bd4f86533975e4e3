// The request parser with options, paths and access rules. The first four
// bytes of an input choose the settings; the rest is the datagram, handed
// over as the receive loop does (at most 1535 bytes, NUL after them).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

#include "engine/file_view.h"
#include "engine/options.h"
#include "engine/request.h"
#include "platform/store.h"
#include "settings/settings.h"

namespace {

namespace fs = std::filesystem;

// A root with a few files, directories and rules, made once per process.
struct World {
    fs::path dir = fs::temp_directory_path() / "pravlen-fuzz-request";
    std::string root = (dir / "root").string() + "/";
    std::string images = (dir / "images").string();

    World() {
        fs::remove_all(dir);
        fs::create_directories(dir / "root" / "sub");
        fs::create_directories(dir / "root" / "10.0.0.5");
        fs::create_directories(dir / "images");
        std::ofstream(dir / "root" / "boot.img") << std::string(3000, 'b');
        std::ofstream(dir / "root" / "text.txt") << "one\r\ntwo\r\n\x1a tail";
        std::ofstream(dir / "root" / "sub" / "file") << "sub";
        std::ofstream(dir / "images" / "x.img") << "image";
        platform::store_use_file((dir / "Pravlen.reg").string());
        (void)platform::store_write("Access", "%root%\\0", "r,10.0.0.1-10.0.0.9");
        (void)platform::store_write("Access", "%root%\\1", "rwo");
        (void)platform::store_write("Access", "sub\\0", "rw,10.0.0.5");
    }
};

Settings settings_from(const uint8_t* choice, const World& world) {
    Settings s{};
    ServerSettings& m = s.server;
    m.Options = choice[0] & 7;
    m.UnixStyle = (choice[0] >> 3) & 1;
    m.AccessControl = (choice[0] >> 4) & 1;
    m.Upload = (choice[0] >> 5) & 1;
    m.RootIPspecific = (choice[0] >> 6) & 1;
    m.MMF = choice[1] & 3;
    m.MMFmax = 0xFFFFFFFFu;
    m.Timeout = choice[1] >> 2;
    m.Log = 0;
    std::snprintf(m.RootDirectory, sizeof m.RootDirectory, "%s", world.root.c_str());
    if (choice[2] & 1) std::snprintf(m.Prefix, sizeof m.Prefix, "x;%s", world.images.c_str());
    s.multicast.Multicast = choice[2] >> 1 & 1;
    s.maxWindowSize = choice[2] >> 2 & 31;
    return s;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    static World world;
    if (size < 4) return 0;
    set_settings_for_testing(settings_from(data, world));
    std::size_t length = std::min<std::size_t>(size - 4, 1535);
    uint8_t datagram[1536] = {};
    std::memcpy(datagram, data + 4, length);
    TransferSession session{};
    session.clientAddress = 10u | (static_cast<uint32_t>(data[3] & 7) << 24);  // 10.0.0.0-7
    Verdict verdict = parse_request(data[2] >> 7, datagram, static_cast<int>(length), &session);
    if (verdict.accepted()) {
        if (session.blockSize < kMinBlockSize || session.blockSize > kMaxBlockSize) std::abort();
        if (std::memchr(session.fileName, 0, sizeof session.fileName) == nullptr) std::abort();
        release_file(&session);
    } else if (session.file) {
        std::abort();  // a refusal leaves no file open
    }
    return 0;
}
