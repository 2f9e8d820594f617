// The mingw-w64 DDK headers, included in one place for the NT driver's C++ files.
#pragma once

// mingw-w64's intrin.h already defines these two as inline functions, and wdm.h would declare
// them a second time in C++; tell it they exist.
#define __INTRINSIC_DEFINED_InterlockedBitTestAndSet
#define __INTRINSIC_DEFINED_InterlockedBitTestAndReset

#include <ntifs.h>
