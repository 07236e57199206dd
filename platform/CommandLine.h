// Text handling of the program's own path and command line, kept apart from the Windows calls so
// that it is tested on any host.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace tolvanex {

// What follows the program's own name in a full command line, as Windows' C runtime reads that
// name: up to the closing quote when it is quoted, otherwise up to the first blank or tab.
std::wstring CommandLineTailOf(std::wstring_view commandLine);

// The directory part of a program's full path, with no trailing backslash except at a drive
// root ("C:\"). Empty when the path holds no backslash.
std::wstring DirectoryOf(std::wstring_view programPath);

// The longest full path, terminator included, that Windows' file functions take as it is
// (MAX_PATH).
constexpr std::size_t LegacyPathLimit = 260;

// A full path that reaches LegacyPathLimit, written so that the file functions take it on every
// Windows, long-path settings or not: "\\?\C:\..." or "\\?\UNC\server\share\...". Shorter
// paths, relative ones and those already in that form are returned as they are.
std::wstring ExtendedLengthPath(std::wstring_view path);

} // namespace tolvanex
