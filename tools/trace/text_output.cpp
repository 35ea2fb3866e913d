#include "text_output.h"

#include "write_all.h"

bool WriteText(HANDLE handle, const std::string &text)
{
    return WriteAll(handle, text.data(), text.size());
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
