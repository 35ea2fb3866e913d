// How a call of the subset fails, written once: the last error set, then
// the value the Win32 call returns for failure (FALSE by default; NULL,
// INVALID_HANDLE_VALUE, WAIT_FAILED, 0 where the call says so). `error` is
// the platform's errno value, or one of the Win32 codes in the subset.
#pragma once

#include "win32_subset.h"

template <class Result = BOOL> Result Fail(DWORD error, Result failure = Result())
{
    SetLastError(error);
    return failure;
}
