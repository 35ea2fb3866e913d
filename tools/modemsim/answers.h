// The built-in modem: what it answers to each command line.
#pragma once

#include <string>

struct ModemState {
    bool echo = true;
};

// The answer bytes for one command line (without its '\r'), as a modem
// with numeric result codes off (ATV1) sends them. May change `state`
// (ATE0/ATE1). An empty line gets no answer.
std::string BuiltInAnswer(const std::string &command, ModemState &state);

// The --help text listing the commands above.
extern const char kBuiltInCommandsHelp[];
