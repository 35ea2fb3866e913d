// The stub's own lines on the debugger output channel, where they fall
// between the program's traces: an "unload" seen before the program's last
// trace proves the library was unloaded, not merely torn down at exit.
#pragma once

void StubNote(const char *text);
