#include "panel/message_box.h"

#include <cstdarg>
#include <cstdio>

bool show_message(HWND owner, UINT style, const char* caption, const char* format, ...) {
    char text[512];
    va_list arguments;
    va_start(arguments, format);
    std::vsnprintf(text, sizeof text, format, arguments);
    va_end(arguments);
    if (style == 0) style = MB_ICONHAND | MB_TASKMODAL;
    return MessageBoxExA(owner, text, caption, style, GetUserDefaultLangID()) == IDOK;
}
