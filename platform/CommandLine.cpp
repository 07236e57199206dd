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

std::wstring ExtendedLengthPath(std::wstring_view path) {
    const auto startsWith = [path](std::wstring_view lead) {
        return path.substr(0, lead.size()) == lead;
    };
    if (path.size() < LegacyPathLimit || startsWith(L"\\\\?\\") || startsWith(L"\\\\.\\")) {
        return std::wstring(path);
    }
    const bool drivePath = path.size() > 2 && path[1] == L':' && path[2] == L'\\';
    if (drivePath) {
        return L"\\\\?\\" + std::wstring(path);
    }
    if (startsWith(L"\\\\")) {
        return L"\\\\?\\UNC\\" + std::wstring(path.substr(2));
    }
    return std::wstring(path);
}

} // namespace tolvanex
