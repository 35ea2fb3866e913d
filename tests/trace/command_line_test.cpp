// atcmd-trace's command line: the program's part passes on exactly as typed.
#include "command_line.h"

#include <gtest/gtest.h>

namespace {

using Kind = TraceCommand::Kind;

struct Case {
    const char *name;
    const wchar_t *commandLine;
    Kind kind;
    bool timestamps;
    const wchar_t *program;
    const wchar_t *programLine;
};

// Test names and failure messages show the row's name, not its bytes.
void PrintTo(const Case &c, std::ostream *os) { *os << c.name; }

const Case kCases[] = {
    {"plain", L"atcmd-trace prog a b", Kind::Run, false, L"prog", L"prog a b"},
    {"quoted_own_name_with_spaces", L"\"C:\\Program Files\\atcmd\\atcmd-trace.exe\" atcmd.exe /cmd ATI",
     Kind::Run, false, L"atcmd.exe", L"atcmd.exe /cmd ATI"},
    {"quoted_program_kept_quoted", L"atcmd-trace /t \"C:\\x y\\atcmd.exe\" /resp \"^\\+CSQ\"", Kind::Run,
     true, L"C:\\x y\\atcmd.exe", L"\"C:\\x y\\atcmd.exe\" /resp \"^\\+CSQ\""},
    {"quotes_backslashes_blanks_untouched", L"atcmd-trace p \"a \\\"b\\\" c\\\\\"  d\\\\\\\"e \"\" \t",
     Kind::Run, false, L"p", L"p \"a \\\"b\\\" c\\\\\"  d\\\\\\\"e \"\" \t"},
    {"tabs_and_upper_case_option", L"atcmd-trace\t/T\t prog", Kind::Run, true, L"prog", L"prog"},
    {"option_only_as_its_own_token", L"atcmd-trace /tx prog", Kind::Run, false, L"/tx", L"/tx prog"},
    {"option_only_before_the_program", L"atcmd-trace prog /t", Kind::Run, false, L"prog", L"prog /t"},
    // A quoted part and what follows it up to a blank are one name.
    {"own_name_quoted_then_glued", L"\"atcmd-trace\"prog x", Kind::Run, false, L"x", L"x"},
    {"own_name_quoted_folder_then_file", L"\"C:\\Program Files\\atcmd\"\\atcmd-trace.exe atcmd.exe /cmd ATI",
     Kind::Run, false, L"atcmd.exe", L"atcmd.exe /cmd ATI"},
    {"program_quoted_part_then_more", L"atcmd-trace \"C:\\Program Files\\x\"y.exe /cmd AT", Kind::Run, false,
     L"C:\\Program Files\\xy.exe", L"\"C:\\Program Files\\x\"y.exe /cmd AT"},
    {"program_quoted_part_inside", L"atcmd-trace a\"b c\"d e", Kind::Run, false, L"ab cd", L"a\"b c\"d e"},
    {"unclosed_quote_in_program", L"atcmd-trace \"C:\\a b", Kind::Run, false, L"C:\\a b", L"\"C:\\a b"},
    {"nothing", L"atcmd-trace", Kind::Usage, false, L"", L""},
    {"blanks_only", L"atcmd-trace  \t ", Kind::Usage, false, L"", L""},
    {"option_without_program", L"atcmd-trace /t", Kind::Usage, true, L"", L""},
    {"empty_program_name", L"atcmd-trace \"\" x", Kind::Usage, false, L"", L""},
    {"help", L"atcmd-trace /?", Kind::Help, false, L"", L""},
};

class ParseTraceCommandTest : public testing::TestWithParam<Case> {};

TEST_P(ParseTraceCommandTest, SplitsOffOwnPart)
{
    const Case &c = GetParam();
    TraceCommand command = ParseTraceCommand(c.commandLine);
    EXPECT_EQ(command.kind, c.kind);
    EXPECT_EQ(command.timestamps, c.timestamps);
    EXPECT_EQ(command.program, c.program);
    EXPECT_EQ(command.programLine, c.programLine);
}

INSTANTIATE_TEST_SUITE_P(Table, ParseTraceCommandTest, testing::ValuesIn(kCases),
                         [](const testing::TestParamInfo<Case> &info) { return std::string(info.param.name); });

}  // namespace
