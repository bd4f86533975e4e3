// The main window's placement as the per-user values keep it, and the decimal
// text those values are stored in.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

// "left" and "top" hold this when no position was stored.
inline constexpr int kNoPosition = INT32_MIN;
inline constexpr int kDefaultWidth = 500;
inline constexpr int kDefaultHeight = 250;

struct StoredPlacement {
    int left = kNoPosition;
    int top = kNoPosition;
    int width = kDefaultWidth;
    int height = kDefaultHeight;
};

struct ScreenMetrics {
    int width;      // SM_CXSCREEN
    int height;     // SM_CYSCREEN
    int minWidth;   // SM_CXMIN
    int minHeight;  // SM_CYMIN
};

struct WindowRect {
    int x, y, width, height;
};

// Where the main window opens: a stored coordinate is used when it lies less
// than 5 pixels before the screen's far edge (compared unsigned, so the
// missing position and large negative values give 0); the size is raised to
// the system minimum.
WindowRect initial_window_rect(const StoredPlacement& stored, const ScreenMetrics& screen);

// The values stored at shutdown from the outer rectangle.
StoredPlacement placement_from_rect(int left, int top, int right, int bottom);

// A per-user integer as stored: "%d" text. Missing (null), empty or not a
// number gives `fallback`; so does a number beyond the range of int.
int parse_user_int(const char* text, int fallback);

// The text to store for `value`, or none when the value is to be deleted
// (a placement value of 0 is not stored).
std::optional<std::string> placement_text(int value);
