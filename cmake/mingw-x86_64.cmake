# 64-bit Windows programs built with Debian's MinGW-w64: the twin of the shipped programs that
# the tests fall back on where a machine cannot run 32-bit code.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(TOOLCHAIN_PREFIX x86_64-w64-mingw32)
# The same thread model as the shipped programs, so both builds take the same library code.
set(MINGW_THREADS win32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
