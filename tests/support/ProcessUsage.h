#pragma once
// What a process holds, for tests that check that repeated work gives everything back. Wine reports neither
// a process handle count nor PrivateUsage: the handle values that answer are counted instead, and the
// commit charge stands for the private bytes. Compare two readings taken after a warm-up.
//
// Thread and event handles are counted apart: the threads library that this toolchain links into every
// module keeps one of each for a loading thread that used its locks (on 32-bit Windows any lock, on 64-bit
// the once-lock of function-local statics), and never gives them back when the module unloads.

#include "platform/Win.h"

#include <cstddef>

struct ProcessUsage
{
    DWORD handles = 0;                 // all but thread and event handles
    DWORD threadAndEventHandles = 0;
    std::size_t committedBytes = 0;
};

ProcessUsage MeasureProcessUsage();
