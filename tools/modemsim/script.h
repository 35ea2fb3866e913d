// The fake modem's script language, one step per line.
#pragma once

#include <string>
#include <vector>

enum class StepKind { Expect, Send, Flood, Pause, Drain, Echo, Answer, Silence, Deaf, HangUp, Exit };

struct Step {
    StepKind kind;
    std::string text;   // Expect: the command line ("*" for any); Send, Flood: the bytes
    long number = 0;    // Pause: milliseconds; Echo: 1 on, 0 off; Flood: bytes in all
    int lineNumber = 0;
};

// Parses a whole script; false with `error` ("line N: ...") on the first fault.
bool ParseScript(const std::string &source, std::vector<Step> &steps, std::string &error);

// Reads and parses a script file.
bool LoadScript(const std::string &path, std::vector<Step> &steps, std::string &error);

// The --help text describing the language.
extern const char kScriptHelp[];
