#include "panel/ip_edit_rules.h"

#include <algorithm>

namespace {

bool is_digit(char c) { return c >= '0' && c <= '9'; }

// A piece between dots reads as one number up to 255 (its leading digits, as
// "%u" reads them); an empty piece is allowed.
bool piece_valid(std::string_view piece) {
    if (piece.empty()) return true;
    if (!is_digit(piece.front())) return false;
    unsigned value = 0;
    for (std::size_t i = 0; i < piece.size() && is_digit(piece[i]); ++i) {
        value = value * 10 + static_cast<unsigned>(piece[i] - '0');
        if (value > 255) return false;
    }
    return true;
}

bool dotted_text_valid(std::string_view text) {
    for (std::size_t from = 0;;) {
        std::size_t dot = text.find('.', from);
        if (!piece_valid(text.substr(from, dot == std::string_view::npos ? dot : dot - from)))
            return false;
        if (dot == std::string_view::npos) return true;
        from = dot + 1;
    }
}

// Removes the selection, or with none the character that Backspace or a
// deletion takes; returns where an insertion goes.
std::size_t remove_for_edit(std::string& text, std::size_t start, std::size_t end, char key) {
    if (start != end) {
        text.erase(start, end - start);
    } else if (key == kIpEditDelete && start < text.size()) {
        text.erase(start, 1);
    } else if (key == kIpEditBackspace && start > 0) {
        text.erase(--start, 1);
    }
    return start;
}

}  // namespace

bool ip_edit_allows(std::string_view original, std::size_t start, std::size_t end, char key) {
    std::string text(original.substr(0, kIpEditMaxLength));
    if (start > end || end > text.size()) return false;
    bool typed = key != kIpEditBackspace && key != kIpEditDelete;
    if (typed && text.size() >= kIpEditMaxLength) return false;
    if (key == '.' && std::count(text.begin(), text.end(), '.') >= 3) return false;
    std::size_t at = remove_for_edit(text, start, end, key);
    if (typed) text.insert(at, 1, key);
    return dotted_text_valid(text);
}

std::string ip_paste_keys(const char* block, std::size_t size) {
    std::string keys;
    if (!block || size > kIpPasteMaxBytes) return keys;
    for (std::size_t i = 0; i < size && block[i]; ++i)
        if (is_digit(block[i]) || block[i] == '.') keys += block[i];
    return keys;
}
