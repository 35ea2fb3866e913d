#include "command_line.h"

#include <cwctype>

namespace {

bool IsBlank(wchar_t c)
{
    return c == L' ' || c == L'\t';
}

std::wstring::size_type SkipBlanks(const std::wstring &text, std::wstring::size_type at)
{
    while (at < text.size() && IsBlank(text[at]))
        ++at;
    return at;
}

// The option token, unquoted, followed by a blank or the end.
bool StartsWithOption(const std::wstring &text, const wchar_t *option)
{
    std::wstring::size_type length = std::char_traits<wchar_t>::length(option);
    if (text.size() < length)
        return false;
    for (std::wstring::size_type i = 0; i < length; ++i) {
        if (static_cast<wchar_t>(towlower(text[i])) != option[i])
            return false;
    }
    return text.size() == length || IsBlank(text[length]);
}

}  // namespace

std::wstring ProgramName(const std::wstring &commandLine, std::wstring *rest)
{
    std::wstring name;
    bool quoted = false;
    std::wstring::size_type end = 0;
    for (; end < commandLine.size(); ++end) {
        wchar_t c = commandLine[end];
        if (c == L'"')
            quoted = !quoted;
        else if (!quoted && IsBlank(c))
            break;
        else
            name += c;
    }
    if (rest)
        *rest = commandLine.substr(SkipBlanks(commandLine, end));
    return name;
}

TraceCommand ParseTraceCommand(const std::wstring &commandLine)
{
    TraceCommand command;
    std::wstring tail;
    ProgramName(commandLine, &tail);
    if (StartsWithOption(tail, L"/?")) {
        command.kind = TraceCommand::Kind::Help;
        return command;
    }
    if (StartsWithOption(tail, L"/t")) {
        command.timestamps = true;
        tail = tail.substr(SkipBlanks(tail, 2));
    }
    command.program = ProgramName(tail, nullptr);
    if (command.program.empty())
        return command;
    command.kind = TraceCommand::Kind::Run;
    command.programLine = tail;
    return command;
}
