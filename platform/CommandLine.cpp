#include "CommandLine.h"

namespace tolvanex {

std::wstring CommandLineTailOf(std::wstring_view commandLine) {
    std::size_t end = 0;
    if (!commandLine.empty() && commandLine.front() == L'"') {
        const std::size_t close = commandLine.find(L'"', 1);
        end = close == std::wstring_view::npos ? commandLine.size() : close + 1;
    } else {
        end = commandLine.find_first_of(L" \t");
        if (end == std::wstring_view::npos) {
            end = commandLine.size();
        }
    }
    return std::wstring(commandLine.substr(end));
}

std::wstring DirectoryOf(std::wstring_view programPath) {
    const std::size_t slash = programPath.rfind(L'\\');
    if (slash == std::wstring_view::npos) {
        return {};
    }
    // "C:\Setup.exe" lies in the root "C:\", which keeps its backslash.
    const bool atDriveRoot = slash == 2 && programPath.size() > 1 && programPath[1] == L':';
    return std::wstring(programPath.substr(0, atDriveRoot ? slash + 1 : slash));
}

} // namespace tolvanex
