#pragma once
// <windows.h> as every Windows file of this project includes it: without the
// rarely used parts, and without its min and max macros, which would break
// std::min and std::max.

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
