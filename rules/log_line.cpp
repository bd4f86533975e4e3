#include "rules/log_line.h"

namespace {

constexpr std::size_t kResultPosition = 20;     // the duration or " Timeout"
constexpr std::size_t kOperationPosition = 45;  // "Get/..." or "Put/..."

char char_at(std::string_view line, std::size_t position) {
    return position < line.size() ? line[position] : '\0';
}

}  // namespace

std::string_view strip_line_end(std::string_view line) {
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.remove_suffix(1);
    return line;
}

bool is_transfer_line(std::string_view line) {
    if (line.size() < kShortestTransferLine) return false;
    char c = line[kResultPosition];
    return c == ' ' || (c >= '0' && c <= '9');
}

bool transfer_failed(std::string_view line) {
    char marker = char_at(line, kResultPosition + 1);
    bool failureWord =
        char_at(line, kResultPosition) == ' ' && (marker == 'A' || marker == 'E' || marker == 'T');
    char operation = char_at(line, kOperationPosition);
    return failureWord || (operation != 'G' && operation != 'P');
}

std::string_view log_column(std::string_view line, std::size_t index) {
    if (index >= kLogColumnCount) return {};
    std::size_t start = kLogColumnStarts[index];
    if (start >= line.size()) return {};
    std::size_t end = index + 1 < kLogColumnCount ? kLogColumnStarts[index + 1] - 1 : line.size();
    return line.substr(start, end - start);
}

bool parse_log_line(std::string_view line, LogRow* row) {
    line = strip_line_end(line);
    if (!is_transfer_line(line)) return false;
    row->failed = transfer_failed(line);
    for (std::size_t i = 0; i < kLogColumnCount; ++i) row->columns[i] = log_column(line, i);
    return true;
}

std::string current_log_name(bool daily, const std::tm& localTime) {
    char name[16];
    std::size_t n =
        std::strftime(name, sizeof name, daily ? "tftp%y%m%d.log" : "tftp%y%m.log", &localTime);
    return std::string(name, n);
}
