// The REGEDIT4 reader and writer: any input parses or is refused without
// harm; a parsed file survives a change and a round trip through its text.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "platform/reg_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    std::string_view text(reinterpret_cast<const char*>(data), size);
    std::optional<platform::RegFile> file = platform::RegFile::parse(text);
    if (!file) return 0;
    const std::string key = "HKEY_LOCAL_MACHINE\\Software\\Velquin\\Pravlen";
    (void)file->get(key, "Port");
    if (!file->set(key, "Port", "6969\\\"quoted\"")) std::abort();
    std::string once = file->serialise();
    std::optional<platform::RegFile> again = platform::RegFile::parse(once);
    if (!again || again->serialise() != once) std::abort();
    std::optional<std::string> port = again->get(key, "port");
    if (!port || *port != "6969\\\"quoted\"") std::abort();
    return 0;
}
