// The debugger channel: standard error.
#pragma once

// Looks at standard error again before the next text. The program never
// moves its standard error; a test that does (dup2) calls this after each move.
void LookAtStandardErrorAgain();
