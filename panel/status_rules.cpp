#include "panel/status_rules.h"

#include <cstdio>

namespace {

std::string printf_text(const char* format, auto... arguments) {
    char buffer[128];
    std::snprintf(buffer, sizeof buffer, format, arguments...);
    return buffer;
}

}  // namespace

std::string compose_clients_line(const StatusTexts& texts, uint32_t running, bool viewMode) {
    std::string line = " " + texts.clients + printf_text(" %u", running);
    if (viewMode) line += "\t\t" + texts.viewMode;
    return line;
}

std::array<int, 4> column_widths(int available, int fullWidth) {
    std::array<int, 4> widths = {20 * available / 100, 20 * available / 100, 20 * available / 100,
                                 40 * available / 100};
    for (int& width : widths)
        if (width == 0) width = fullWidth / 4;
    return widths;
}

bool RefreshSchedule::tick(uint32_t runningTransfers) {
    if (requests_ != 0 || runningTransfers != 0) return true;
    if (parity_ % 2 == 1) requests_ = 1;
    ++parity_;
    return false;
}
