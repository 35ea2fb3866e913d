// gtest's capture of standard error, with the POSIX stand-in's debug output
// following it there and back: the stand-in looks at standard error once.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "debug_output.h"

inline void CaptureTraces()
{
    testing::internal::CaptureStderr();
    LookAtStandardErrorAgain();
}

inline std::string CapturedTraces()
{
    std::string traces = testing::internal::GetCapturedStderr();
    LookAtStandardErrorAgain();
    return traces;
}
