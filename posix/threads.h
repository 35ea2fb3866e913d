// Threads the program started, as far as the waits need to know.
#pragma once

// True while a thread started by CreateThread is still running.
bool OtherThreadsRunning();
