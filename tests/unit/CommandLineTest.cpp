#include "CommandLine.h"

#include "RowName.h"

#include <gtest/gtest.h>

namespace tolvanex {
namespace {

struct TailRow {
    const char* name;
    std::wstring commandLine;
    std::wstring tail;
};

class CommandLineTailTest : public ::testing::TestWithParam<TailRow> {};

TEST_P(CommandLineTailTest, SkipsTheProgramName) {
    EXPECT_EQ(CommandLineTailOf(GetParam().commandLine), GetParam().tail);
}

INSTANTIATE_TEST_SUITE_P(
    Lines, CommandLineTailTest,
    ::testing::Values(TailRow{"Unquoted", L"Tolvakey.exe 3 1", L" 3 1"},
                      TailRow{"UnquotedTab", L"Tolvakey.exe\t3", L"\t3"},
                      TailRow{"QuotedWithBlanks",
                              L"\"C:\\Program Files\\Tolvanex\\Tolvakey.exe\" 3 1", L" 3 1"},
                      TailRow{"QuotedNoBlankAfter", L"\"C:\\A B\\Tolvakey.exe\"3", L"3"},
                      TailRow{"NameOnly", L"Tolvakey.exe", L""},
                      TailRow{"QuotedNameOnly", L"\"C:\\A B\\Tolvakey.exe\"", L""},
                      TailRow{"UnclosedQuote", L"\"C:\\A B\\Tolvakey.exe 3", L""},
                      TailRow{"Empty", L"", L""},
                      TailRow{"QuotesInArgumentsKept", L"t.exe \"a b\" c", L" \"a b\" c"}),
    tolvanex::testing::RowName());

struct DirRow {
    const char* name;
    std::wstring path;
    std::wstring directory;
};

class DirectoryOfTest : public ::testing::TestWithParam<DirRow> {};

TEST_P(DirectoryOfTest, DropsTheFileName) {
    EXPECT_EQ(DirectoryOf(GetParam().path), GetParam().directory);
}

INSTANTIATE_TEST_SUITE_P(
    Paths, DirectoryOfTest,
    ::testing::Values(DirRow{"Folder", L"C:\\Kit\\Setup.exe", L"C:\\Kit"},
                      DirRow{"DriveRoot", L"C:\\Setup.exe", L"C:\\"},
                      DirRow{"Share", L"\\\\server\\share\\Setup.exe", L"\\\\server\\share"},
                      DirRow{"Blanks", L"C:\\My Kit\\Setup.exe", L"C:\\My Kit"},
                      DirRow{"NoFolder", L"Setup.exe", L""}),
    tolvanex::testing::RowName());

// A folder name that makes a path exactly the length asked for.
std::wstring PathOf(std::wstring_view lead, std::size_t length, std::wstring_view file) {
    return std::wstring(lead) + std::wstring(length - lead.size() - file.size(), L'k') +
           std::wstring(file);
}

struct LongPathRow {
    const char* name;
    std::wstring path;
    std::wstring expected;
};

class ExtendedLengthPathTest : public ::testing::TestWithParam<LongPathRow> {};

TEST_P(ExtendedLengthPathTest, WritesLongFullPathsInTheFormWithoutALimit) {
    EXPECT_EQ(ExtendedLengthPath(GetParam().path), GetParam().expected);
}

const std::wstring LongestPlain = PathOf(L"C:\\", LegacyPathLimit - 1, L"\\Install.exe");
const std::wstring FirstTooLong = PathOf(L"C:\\", LegacyPathLimit, L"\\Install.exe");
const std::wstring LongShare = PathOf(L"\\\\server\\share\\", 300, L"\\Install.exe");
const std::wstring LongRelative = PathOf(L"kit\\", 300, L"\\Install.exe");

INSTANTIATE_TEST_SUITE_P(
    Paths, ExtendedLengthPathTest,
    ::testing::Values(LongPathRow{"Short", L"C:\\Kit\\Install.exe", L"C:\\Kit\\Install.exe"},
                      LongPathRow{"LongestThatFitsMaxPath", LongestPlain, LongestPlain},
                      LongPathRow{"OneCharacterMore", FirstTooLong, L"\\\\?\\" + FirstTooLong},
                      LongPathRow{"Share", LongShare, L"\\\\?\\UNC\\" + LongShare.substr(2)},
                      LongPathRow{"AlreadyExtended", L"\\\\?\\" + FirstTooLong,
                                  L"\\\\?\\" + FirstTooLong},
                      LongPathRow{"Relative", LongRelative, LongRelative}),
    tolvanex::testing::RowName());

} // namespace
} // namespace tolvanex
