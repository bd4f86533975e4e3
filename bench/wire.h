// TFTP packets as the load generator writes and reads them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace bench {

enum Opcode : uint16_t { kRrq = 1, kWrq = 2, kData = 3, kAck = 4, kError = 5, kOack = 6 };

inline constexpr std::size_t kMaxDatagram = 65536;

inline void put16(uint8_t* p, uint32_t value) {
    p[0] = static_cast<uint8_t>(value >> 8);
    p[1] = static_cast<uint8_t>(value);
}
inline uint16_t get16(const uint8_t* p) { return static_cast<uint16_t>((p[0] << 8) | p[1]); }

using OptionList = std::vector<std::pair<std::string, std::string>>;

// "opcode file\0octet\0name\0value\0..."
inline std::vector<uint8_t> build_request(uint16_t opcode,
                                          const std::string& file,
                                          const OptionList& options) {
    std::vector<uint8_t> packet(2);
    put16(packet.data(), opcode);
    auto add = [&](const std::string& text) {
        packet.insert(packet.end(), text.begin(), text.end());
        packet.push_back(0);
    };
    add(file);
    add("octet");
    for (const auto& [name, value] : options) {
        add(name);
        add(value);
    }
    return packet;
}

// The NUL-terminated words of a packet after its opcode; an unterminated
// last word is dropped.
inline std::vector<std::string> packet_words(const uint8_t* packet, std::size_t length) {
    std::vector<std::string> words;
    std::string word;
    for (std::size_t i = 2; i < length; ++i) {
        if (packet[i] != 0) {
            word += static_cast<char>(packet[i]);
            continue;
        }
        words.push_back(word);
        word.clear();
    }
    return words;
}

// Name/value pairs from words[first] on, names in lower case.
inline std::map<std::string, std::string> option_pairs(const std::vector<std::string>& words,
                                                       std::size_t first) {
    std::map<std::string, std::string> options;
    for (std::size_t i = first; i + 1 < words.size(); i += 2) {
        std::string name = words[i];
        for (char& c : name) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c);
        options[name] = words[i + 1];
    }
    return options;
}

// The options of an option acknowledgement.
inline std::map<std::string, std::string> parse_oack(const uint8_t* packet, std::size_t length) {
    return option_pairs(packet_words(packet, length), 0);
}

// An option acknowledgement carrying `options`.
inline std::vector<uint8_t> build_oack(const OptionList& options) {
    std::vector<uint8_t> packet(2);
    put16(packet.data(), kOack);
    for (const auto& [name, value] : options) {
        for (const std::string* text : {&name, &value}) {
            packet.insert(packet.end(), text->begin(), text->end());
            packet.push_back(0);
        }
    }
    return packet;
}

}  // namespace bench
