// Shows what Tolvakey and Setup do, with stand-ins for Tolvanex and the installers: prints the
// clipboard, the programs started and every message box, as a user would meet them.
#include "WinKit.h"

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

using namespace tolvanex::e2e;

namespace {

void Say(const std::wstring& text) {
    std::printf("%s\n", Utf8(text).c_str());
}

std::wstring Quoted(const std::optional<std::wstring>& text) {
    return text ? L"\"" + *text + L"\"" : L"(no text)";
}

std::wstring Hex(const std::optional<std::string>& bytes) {
    if (!bytes) {
        return L"(none)";
    }
    std::wstring out;
    wchar_t cell[4];
    for (const unsigned char byte : *bytes) {
        std::swprintf(cell, 4, L"%02x ", byte);
        out += cell;
    }
    return out.empty() ? out : out.substr(0, out.size() - 1);
}

void SayBoxes(const RunResult& run) {
    for (const Box& box : run.boxes) {
        std::wstring buttons;
        for (const auto& button : box.buttons) {
            buttons += L"[" + button + L"]";
        }
        Say(L"      message box \"" + box.title + L"\": \"" + box.text + L"\" " +
            (box.hasIcon ? L"with warning icon " : L"without icon ") + buttons);
    }
}

std::wstring Seconds(std::uint64_t from, std::uint64_t to) {
    wchar_t text[32];
    std::swprintf(text, 32, L"%+.3f s",
                  (static_cast<double>(to) - static_cast<double>(from)) / 1000.0);
    return text;
}

void DemoTolvakey() {
    TempDir dir(L"Tolvanex");
    const std::wstring launcher = dir.Make(L"Tolvakey.exe");
    const std::wstring application = dir.Make(L"Tolvanex.exe");
    CopyProgram(L"Tolvakey.exe", launcher);
    CopyProgram(L"StandIn.exe", application);
    WriteText(application + L".ms", "600000");
    SetClipboard(L"(what the user copied before)");

    Say(L"== Tolvakey, in " + dir.Path() + L", beside a stand-in Tolvanex.exe");
    for (const std::wstring arguments : {L"3 1", L"7", L"  a \t b c", L"\u00E9t\u00E9 2", L""}) {
        const int before = ProcessesOf(application);
        const RunResult run = RunProgram(launcher, arguments, dir.Path());
        Say(L"  Tolvakey.exe " + arguments + L"   -> exit status " + std::to_wstring(run.exitCode));
        SayBoxes(run);
        if (ProcessesOf(application) > before) {
            const StandInRecord started = AwaitRecord(application);
            Say(L"      started Tolvanex: command line \"" + started.commandLine + L"\"");
        } else if (run.exitCode == 0) {
            Say(L"      Tolvanex already running: not started again");
        }
        Say(L"      clipboard: " + Quoted(ClipboardUnicode()) + L"   CF_TEXT bytes: " +
            Hex(ClipboardAnsi()));
    }
}

// One Setup run in a fresh folder holding the installers named, the prerequisite running for
// prerequisiteMs.
void DemoSetup(const wchar_t* title, bool prerequisite, bool mainInstaller,
               unsigned prerequisiteMs) {
    TempDir dir(L"Tolvanex Kit \u00E4\u00F6");
    const std::wstring setup = dir.Make(L"Setup.exe");
    const std::wstring first = dir.Make(L"msttss22L.exe");
    const std::wstring second = dir.Make(L"Install.exe");
    CopyProgram(L"Setup.exe", setup);
    if (prerequisite) {
        CopyProgram(L"StandIn.exe", first);
        WriteText(first + L".ms", std::to_string(prerequisiteMs));
    }
    if (mainInstaller) {
        CopyProgram(L"StandIn.exe", second);
    }

    Say(std::wstring(L"== Setup: ") + title);
    Say(L"  folder: " + dir.Path());
    const RunResult run = RunProgram(setup, L"", L"C:\\");
    const StandInRecord one = ReadRecord(first);
    const StandInRecord two = mainInstaller ? AwaitRecord(second, 3000) : StandInRecord{};

    std::vector<std::pair<std::uint64_t, std::wstring>> events{
        {run.startMs, L"Setup.exe started, from C:\\"},
        {run.endMs, L"Setup.exe ended, exit status " + std::to_wstring(run.exitCode)}};
    if (one.startMs) {
        events.emplace_back(*one.startMs, L"msttss22L.exe started in \"" + one.folder + L"\"");
    }
    if (one.endMs) {
        events.emplace_back(*one.endMs, L"msttss22L.exe ended");
    } else if (one.startMs) {
        events.emplace_back(run.endMs, L"msttss22L.exe still running");
    }
    if (two.startMs) {
        std::wstring line = L"Install.exe started in \"" + two.folder + L"\"";
        if (one.endMs) {
            line += L", " + Seconds(*one.endMs, *two.startMs) + L" after msttss22L.exe ended";
        }
        events.emplace_back(*two.startMs, line);
    }
    std::stable_sort(events.begin(), events.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    for (const auto& [when, what] : events) {
        Say(L"  " + Seconds(run.startMs, when) + L"  " + what);
    }
    SayBoxes(run);
}

} // namespace

int main() {
    DemoTolvakey();
    DemoSetup(L"both installers present, the prerequisite takes 2 s", true, true, 2000);
    DemoSetup(L"the prerequisite takes 13 s: Setup goes on after 10 s", true, true, 13000);
    DemoSetup(L"the prerequisite is missing", false, true, 0);
    DemoSetup(L"both installers are missing", false, false, 0);
    return 0;
}
