# 32-bit Windows programs built with Debian's MinGW-w64: the shipped programs.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(TOOLCHAIN_PREFIX i686-w64-mingw32)
# The programs use no threads: the win32 thread model keeps winpthreads out of them.
set(MINGW_THREADS win32)
# Doubles as the standard has them, as Visual C++ computes them for x86: left to the x87 unit,
# a value fresh from a call keeps 80 bits while its stored copy has 64, so two readings of the
# same clock can compare unequal. Every Windows that runs these programs has SSE2.
set(CMAKE_C_FLAGS_INIT "-msse2 -mfpmath=sse")
set(CMAKE_CXX_FLAGS_INIT "-msse2 -mfpmath=sse")
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
