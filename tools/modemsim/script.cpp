#include "script.h"

#include <cstdlib>
#include <fstream>
#include <sstream>

#include "escapes.h"

const char kScriptHelp[] =
    "Script language (one step per line; blank lines and lines starting with # are skipped):\n"
    "  expect TEXT   wait for a command line equal to TEXT (escapes allowed), skipping\n"
    "                others; 'expect *' takes any line. A line ends at \\r; a \\n after\n"
    "                it is ignored.\n"
    "  send BYTES    write BYTES; escapes \\r \\n \\t \\\\ \\\" \\0 \\xHH\n"
    "  flood N BYTES write BYTES again and again, N bytes in all, as fast as the pty\n"
    "                takes them (the last copy may be cut)\n"
    "  pause MS      wait MS milliseconds (still reading and logging)\n"
    "  drain         wait until the slave's reader has taken all that was sent\n"
    "  echo on|off   echo command lines as they complete (default off in a script)\n"
    "  answer        send the built-in answer to the last line 'expect' took\n"
    "  silence       answer nothing from now on, until killed or idle\n"
    "  deaf          read nothing from now on, so that the program's writes back up\n"
    "                until the pty's buffer is full; until killed or idle\n"
    "  hangup        once the slave has taken what was sent, close the pty and exit\n"
    "  exit          once the slave has taken what was sent, exit\n"
    "When the script ends: exit with --once, else go on with the built-in answers.\n";

namespace {

struct Keyword {
    const char *name;
    StepKind kind;
    bool takesText;
};

const Keyword kKeywords[] = {
    {"expect", StepKind::Expect, true},
    {"send", StepKind::Send, true},
    {"flood", StepKind::Flood, true},
    {"pause", StepKind::Pause, true},
    {"drain", StepKind::Drain, false},
    {"echo", StepKind::Echo, true},
    {"answer", StepKind::Answer, false},
    {"silence", StepKind::Silence, false},
    {"deaf", StepKind::Deaf, false},
    {"hangup", StepKind::HangUp, false},
    {"exit", StepKind::Exit, false},
};

bool ParseNumber(const std::string &text, long &number)
{
    char *end = nullptr;
    number = strtol(text.c_str(), &end, 10);
    return !text.empty() && *end == '\0' && number >= 0;
}

// Fills the step's argument; returns an error text, empty when it is fine.
std::string ParseArgument(const std::string &argument, Step &step)
{
    std::string error;
    switch (step.kind) {
    case StepKind::Expect:
    case StepKind::Send:
        if (!Unescape(argument, step.text, error))
            return error;
        return step.kind == StepKind::Send && step.text.empty() ? "send needs bytes" : "";
    case StepKind::Flood: {
        size_t space = argument.find(' ');
        if (space == std::string::npos || !ParseNumber(argument.substr(0, space), step.number))
            return "flood needs a byte count and bytes";
        if (!Unescape(argument.substr(space + 1), step.text, error))
            return error;
        return step.text.empty() ? "flood needs bytes" : "";
    }
    case StepKind::Pause:
        return ParseNumber(argument, step.number) ? "" : "pause needs milliseconds";
    case StepKind::Echo:
        if (argument != "on" && argument != "off")
            return "echo takes on or off";
        step.number = argument == "on";
        return "";
    default:
        return argument.empty() ? "" : "takes no argument";
    }
}

std::string ParseLine(const std::string &line, Step &step)
{
    size_t space = line.find(' ');
    std::string word = line.substr(0, space);
    std::string argument = space == std::string::npos ? "" : line.substr(space + 1);
    for (const Keyword &keyword : kKeywords) {
        if (word != keyword.name)
            continue;
        step.kind = keyword.kind;
        if (keyword.takesText && argument.empty() && step.kind != StepKind::Expect)
            return word + " needs an argument";
        return ParseArgument(argument, step);
    }
    return "unknown step '" + word + "'";
}

}  // namespace

bool ParseScript(const std::string &source, std::vector<Step> &steps, std::string &error)
{
    std::istringstream lines(source);
    std::string line;
    for (int number = 1; std::getline(lines, line); ++number) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line.empty() || line[0] == '#')
            continue;
        Step step{StepKind::Exit, "", 0, number};
        std::string fault = ParseLine(line, step);
        if (!fault.empty()) {
            error = "line " + std::to_string(number) + ": " + fault;
            return false;
        }
        steps.push_back(step);
    }
    return true;
}

bool LoadScript(const std::string &path, std::vector<Step> &steps, std::string &error)
{
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        error = "can not read " + path;
        return false;
    }
    std::ostringstream source;
    source << file.rdbuf();
    if (!ParseScript(source.str(), steps, error)) {
        error = path + ": " + error;
        return false;
    }
    return true;
}
