#include "stub_note.h"

#include <windows.h>

void StubNote(const char *text)
{
    OutputDebugStringA(text);
}
