#include "panel/folder_rules.h"

namespace {

constexpr std::size_t kStatusLength = 48;
constexpr std::size_t kStatusTail = 45;

bool ends_with_separator(std::string_view path) { return !path.empty() && path.back() == '\\'; }

}  // namespace

std::string folder_to_preselect(std::string_view path) {
    if (path.size() > 3 && ends_with_separator(path)) path.remove_suffix(1);
    return std::string(path);
}

std::string folder_status_text(std::string_view path) {
    if (path.size() <= kStatusLength) return std::string(path);
    return "..." + std::string(path.substr(path.size() - kStatusTail));
}

std::string folder_with_separator(std::string_view path) {
    std::string text(path);
    if (!text.empty() && !ends_with_separator(text)) text += '\\';
    return text;
}
