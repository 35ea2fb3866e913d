#include "text_output.h"

bool WriteText(HANDLE handle, const std::string &text)
{
    const char *at = text.data();
    std::string::size_type left = text.size();
    while (left > 0) {
        DWORD piece = left > 0x10000000 ? 0x10000000 : static_cast<DWORD>(left);
        DWORD written = 0;
        if (!WriteFile(handle, at, piece, &written, NULL) || written == 0)
            return false;
        at += written;
        left -= written;
    }
    return true;
}

std::string Narrow(const std::wstring &text)
{
    if (text.empty())
        return std::string();
    int length = static_cast<int>(text.size());
    int size = WideCharToMultiByte(CP_ACP, 0, text.data(), length, NULL, 0, NULL, NULL);
    if (size <= 0)
        return std::string();
    std::string narrow(static_cast<std::string::size_type>(size), '\0');
    WideCharToMultiByte(CP_ACP, 0, text.data(), length, &narrow[0], size, NULL, NULL);
    return narrow;
}

std::string ErrorMessage(DWORD error)
{
    char buffer[512];
    DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, NULL, error,
                                  0, buffer, sizeof buffer, NULL);
    std::string message(buffer, length);
    while (!message.empty() && (message.back() == '\n' || message.back() == '\r' || message.back() == ' '))
        message.pop_back();
    return message.empty() ? "no message for this error" : message;
}
