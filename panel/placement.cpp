#include "panel/placement.h"

#include <cerrno>
#include <climits>
#include <cstdlib>

namespace {

int placed_coordinate(int stored, int screenExtent) {
    return static_cast<unsigned>(stored) + 5u < static_cast<unsigned>(screenExtent) ? stored : 0;
}

int raised_extent(int stored, int minimum) {
    return static_cast<unsigned>(stored) < static_cast<unsigned>(minimum) ? minimum : stored;
}

}  // namespace

WindowRect initial_window_rect(const StoredPlacement& stored, const ScreenMetrics& screen) {
    return WindowRect{placed_coordinate(stored.left, screen.width),
                      placed_coordinate(stored.top, screen.height),
                      raised_extent(stored.width, screen.minWidth),
                      raised_extent(stored.height, screen.minHeight)};
}

StoredPlacement placement_from_rect(int left, int top, int right, int bottom) {
    return StoredPlacement{left, top, right - left, bottom - top};
}

int parse_user_int(const char* text, int fallback) {
    if (!text || !*text) return fallback;
    char* end = nullptr;
    errno = 0;
    long long value = std::strtoll(text, &end, 10);
    if (end == text || errno == ERANGE || value < INT_MIN || value > INT_MAX) return fallback;
    return static_cast<int>(value);
}

std::optional<std::string> placement_text(int value) {
    if (value == 0) return std::nullopt;
    return std::to_string(value);
}
