// Times Tolvakey and Setup on this machine, beside the least programs that could do their work,
// and prints the figures as Markdown tables. Nothing here passes or fails: the figures are for
// people to read, and they depend on the machine (scripts/bench runs this and names the machine).
// The arguments are program files whose sizes are shown besides the ones next to this program.
#include "UniqueHandle.h"
#include "WinKit.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

using namespace tolvanex::e2e;

namespace {

using tolvanex::UniqueProcess;
// A thread handle is closed like a process handle.
using UniqueThread = tolvanex::UniqueProcess;

constexpr int KeyPressRuns = 25;
constexpr int ColdRuns = 10;
constexpr int CrowdRuns = 10;
constexpr int CrowdSizes[] = {10, 100, 300};
constexpr int SetupRuns = 6;
// The first runs of a program pay for reading its file and for Wine's first look at it.
constexpr int WarmUpRuns = 2;
constexpr wchar_t KeyArguments[] = L"3 1";
constexpr char LongRunMs[] = "600000";
constexpr char PrerequisiteMs[] = "200";
constexpr DWORD RunTimeoutMs = 60000;

void Progress(const char* text) {
    std::fprintf(stderr, "bench: %s\n", text);
    std::fflush(stderr);
}

double NowMs() {
    static const double ticksPerMs = [] {
        LARGE_INTEGER frequency;
        ::QueryPerformanceFrequency(&frequency);
        return static_cast<double>(frequency.QuadPart) / 1000.0;
    }();
    LARGE_INTEGER now;
    ::QueryPerformanceCounter(&now);
    return static_cast<double>(now.QuadPart) / ticksPerMs;
}

double FileTimeMs(const FILETIME& time) {
    const std::uint64_t ticks = (std::uint64_t{time.dwHighDateTime} << 32) | time.dwLowDateTime;
    return static_cast<double>(ticks) / 10000.0;
}

struct Run {
    double ms = 0;    // from the CreateProcessW call to the end of the process, as seen from here
    double cpuMs = 0; // user and kernel time the system accounts to the process
    DWORD exitCode = STILL_ACTIVE;
    std::uint64_t endedMs = 0; // on the EpochMs clock the stand-ins write
};

Run TimeRun(const std::wstring& exe, const std::wstring& arguments, const std::wstring& folder) {
    std::wstring line = L"\"" + exe + L"\"" + (arguments.empty() ? L"" : L" " + arguments);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info{};
    Run run;
    const double began = NowMs();
    if (!::CreateProcessW(exe.c_str(), line.data(), nullptr, nullptr, FALSE, 0, nullptr,
                          folder.c_str(), &startup, &info)) {
        throw std::runtime_error("cannot start " + Utf8(exe));
    }
    const UniqueThread thread(info.hThread);
    const UniqueProcess process(info.hProcess);
    if (!WaitForExit(process.get(), RunTimeoutMs)) {
        ::TerminateProcess(process.get(), 999);
        throw std::runtime_error(Utf8(exe) + " did not end within a minute");
    }
    run.ms = NowMs() - began;
    run.endedMs = EpochMs();
    ::GetExitCodeProcess(process.get(), &run.exitCode);
    FILETIME created, exited, kernel, user;
    if (::GetProcessTimes(process.get(), &created, &exited, &kernel, &user)) {
        run.cpuMs = FileTimeMs(kernel) + FileTimeMs(user);
    }
    return run;
}

struct Summary {
    std::size_t runs = 0;
    double median = 0, p10 = 0, p90 = 0, min = 0, max = 0;
};

double Quantile(const std::vector<double>& sorted, double fraction) {
    const double at = fraction * static_cast<double>(sorted.size() - 1);
    const auto below = static_cast<std::size_t>(at);
    const std::size_t above = std::min(below + 1, sorted.size() - 1);
    return sorted[below] + (sorted[above] - sorted[below]) * (at - static_cast<double>(below));
}

Summary Summarise(std::vector<double> values) {
    Summary summary;
    summary.runs = values.size();
    if (values.empty()) {
        return summary;
    }
    std::sort(values.begin(), values.end());
    summary.median = Quantile(values, 0.5);
    summary.p10 = Quantile(values, 0.1);
    summary.p90 = Quantile(values, 0.9);
    summary.min = values.front();
    summary.max = values.back();
    return summary;
}

struct Unit {
    double perMs;
    int decimals;
    const char* name;
};
constexpr Unit Milliseconds{1.0, 1, "ms"};
constexpr Unit Seconds{0.001, 3, "s"};

std::string Fixed(double value, int decimals) {
    char text[48];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    return text;
}

std::string Amount(double ms, const Unit& unit) {
    return Fixed(ms * unit.perMs, unit.decimals) + " " + unit.name;
}

std::string Range(double fromMs, double toMs, const Unit& unit) {
    return Fixed(fromMs * unit.perMs, unit.decimals) + "–" + Amount(toMs, unit);
}

void TableHead(const char* caption) {
    std::printf("\n%s\n\n| | runs | median | p10–p90 | min–max |\n|---|--:|--:|--:|--:|\n",
                caption);
}

void TimingRow(const std::string& what, const Summary& summary, const Unit& unit) {
    if (summary.runs == 0) {
        std::printf("| %s | 0 | – | – | – |\n", what.c_str());
        return;
    }
    std::printf("| %s | %zu | %s | %s | %s |\n", what.c_str(), summary.runs,
                Amount(summary.median, unit).c_str(), Range(summary.p10, summary.p90, unit).c_str(),
                Range(summary.min, summary.max, unit).c_str());
}

void FigureRow(const std::string& what, const std::string& figure) {
    std::printf("| %s | | %s | | |\n", what.c_str(), figure.c_str());
}

std::string Ratio(const Summary& over, const Summary& under) {
    return under.median > 0 ? Fixed(over.median / under.median, 2) : std::string("–");
}

struct Paired {
    std::vector<double> program, floor;
    int failedRuns = 0; // runs that did not end with status 0
};

// Runs a program and the floor program alternately, each first every other time, so that
// neither profits from going second. `after` runs after each run of the program, before the
// floor program's next run.
template <typename After>
Paired Interleave(const std::wstring& program, const std::wstring& floor,
                  const std::wstring& folder, int runs, After after) {
    Paired paired;
    const auto runProgram = [&](bool counted) {
        const Run run = TimeRun(program, KeyArguments, folder);
        after(run, counted);
        if (counted) {
            paired.program.push_back(run.ms);
            paired.failedRuns += run.exitCode == 0 ? 0 : 1;
        }
    };
    const auto runFloor = [&](bool counted) {
        const Run run = TimeRun(floor, L"", folder);
        if (counted) {
            paired.floor.push_back(run.ms);
            paired.failedRuns += run.exitCode == 0 ? 0 : 1;
        }
    };
    for (int i = 0; i < WarmUpRuns; ++i) {
        runProgram(false);
        runFloor(false);
    }
    for (int i = 0; i < runs; ++i) {
        if (i % 2 == 0) {
            runProgram(true);
            runFloor(true);
        } else {
            runFloor(true);
            runProgram(true);
        }
    }
    return paired;
}

void FailureNote(int failedRuns) {
    if (failedRuns > 0) {
        std::printf("\n%d of the runs above did not end with exit status 0.\n", failedRuns);
    }
}

int CountNamed(const std::vector<std::wstring>& names, const std::wstring& name) {
    return static_cast<int>(std::count_if(names.begin(), names.end(), [&](const auto& each) {
        return ::CompareStringOrdinal(each.c_str(), -1, name.c_str(), -1, TRUE) == CSTR_EQUAL;
    }));
}

// Waits until the stand-in's log holds that many starts; false when the time ran out.
bool AwaitStarts(const std::wstring& standIn, int starts, DWORD timeoutMs) {
    const ULONGLONG deadline = ::GetTickCount64() + timeoutMs;
    while (ReadRecord(standIn).starts < starts) {
        if (::GetTickCount64() > deadline) {
            return false;
        }
        ::Sleep(20);
    }
    return true;
}

// A folder with Tolvakey, a stand-in Tolvanex beside it (found there when Tolvakey starts it by
// its bare name) and the floor program.
struct KeyPressFolder {
    TempDir dir{L"Tolvanex"};
    std::wstring launcher = dir.Make(L"Tolvakey.exe");
    std::wstring application = dir.Make(L"Tolvanex.exe");
    std::wstring floor = dir.Make(L"FloorProgram.exe");

    KeyPressFolder() {
        CopyProgram(L"Tolvakey.exe", launcher);
        CopyProgram(L"StandIn.exe", application);
        CopyProgram(L"FloorProgram.exe", floor);
        WriteText(application + L".ms", LongRunMs);
    }
};

void ColdKeyPresses() {
    Progress("key press, Tolvanex not running");
    KeyPressFolder folder;
    int startedAfterEnd = 0, notStarted = 0;
    // Every start before the run has been waited for and its program ended, so the count in the
    // log stays put until this run starts Tolvanex.
    int startsBefore = 0;
    const auto endApplication = [&](const Run& run, bool counted) {
        const bool started = AwaitStarts(folder.application, startsBefore + 1, 10000);
        EndProgramsUnder(folder.dir.Path());
        const StandInRecord record = ReadRecord(folder.application);
        startsBefore = record.starts;
        if (counted) {
            notStarted += started ? 0 : 1;
            startedAfterEnd += started && record.startMs && *record.startMs >= run.endedMs;
        }
    };
    const Paired paired =
        Interleave(folder.launcher, folder.floor, folder.dir.Path(), ColdRuns, endApplication);
    // What starting Tolvanex costs whoever starts it, waiting for nothing: the call alone.
    std::vector<double> calls;
    for (int i = 0; i < ColdRuns; ++i) {
        const double began = NowMs();
        const UniqueProcess process(StartProgram(folder.application));
        calls.push_back(NowMs() - began);
        AwaitStarts(folder.application, startsBefore + 1, 10000);
        EndProgramsUnder(folder.dir.Path());
        startsBefore = ReadRecord(folder.application).starts;
    }
    const Summary cold = Summarise(paired.program), floor = Summarise(paired.floor);
    TableHead("Key press, Tolvanex not running: Tolvakey starts `Tolvanex.exe /h` (a stand-in), "
              "and it is ended after each run");
    TimingRow("Tolvakey.exe 3 1, starting Tolvanex", cold, Milliseconds);
    TimingRow("FloorProgram.exe, interleaved", floor, Milliseconds);
    FigureRow("ratio of medians, Tolvakey / floor", Ratio(cold, floor));
    FigureRow("runs in which Tolvanex wrote its first line after Tolvakey had ended",
              std::to_string(startedAfterEnd) + " of " + std::to_string(cold.runs));
    TimingRow("the CreateProcessW call alone that starts the stand-in, timed here",
              Summarise(calls), Milliseconds);
    FailureNote(paired.failedRuns);
    if (notStarted > 0) {
        std::printf("\nIn %d runs Tolvanex was not seen starting.\n", notStarted);
    }
    std::fflush(stdout);
}

void IgnoreRun(const Run&, bool) {}

Summary WarmKeyPresses(const KeyPressFolder& folder) {
    Progress("key press, Tolvanex running");
    const Paired paired =
        Interleave(folder.launcher, folder.floor, folder.dir.Path(), KeyPressRuns, IgnoreRun);
    const Summary warm = Summarise(paired.program), floor = Summarise(paired.floor);
    TableHead("Key press, Tolvanex running: `Tolvakey.exe 3 1` against FloorProgram.exe, from "
              "CreateProcess to the end of the process, interleaved");
    TimingRow("Tolvakey.exe 3 1", warm, Milliseconds);
    TimingRow("FloorProgram.exe", floor, Milliseconds);
    FigureRow("ratio of medians, Tolvakey / floor (goal ≤ 1.10)", Ratio(warm, floor));
    FailureNote(paired.failedRuns);
    std::fflush(stdout);
    return warm;
}

// Starts copies of a long-running stand-in until `size` run, and waits for each to come up.
void GrowCrowd(const std::wstring& busy, int& started, int size) {
    for (; started < size; ++started) {
        const UniqueProcess process(StartProgram(busy));
    }
    if (!AwaitStarts(busy, size, 180000)) {
        Progress("not every extra stand-in came up; the table says how many ran");
    }
}

void CrowdedKeyPresses(const KeyPressFolder& folder, const Summary& warm) {
    TempDir crowd(L"crowd");
    const std::wstring busy = crowd.Make(L"Busy.exe");
    CopyProgram(L"StandIn.exe", busy);
    WriteText(busy + L".ms", LongRunMs);
    int started = 0, failedRuns = 0;
    TableHead("Process list: Tolvakey (Tolvanex running) with more processes running, each a "
              "copy of the stand-in sleeping; FloorProgram.exe interleaved");
    TimingRow("Tolvakey.exe 3 1, no extra processes (the runs above)", warm, Milliseconds);
    for (const int size : CrowdSizes) {
        Progress(("key press beside " + std::to_string(size) + " extra processes").c_str());
        GrowCrowd(busy, started, size);
        const std::vector<std::wstring> names = ProcessNames();
        const Paired crowded =
            Interleave(folder.launcher, folder.floor, folder.dir.Path(), CrowdRuns, IgnoreRun);
        failedRuns += crowded.failedRuns;
        const Summary program = Summarise(crowded.program), floor = Summarise(crowded.floor);
        const std::string running = std::to_string(CountNamed(names, L"Busy.exe")) + " extra (" +
                                    std::to_string(names.size()) + " in the list)";
        TimingRow("Tolvakey.exe 3 1, " + running, program, Milliseconds);
        TimingRow("FloorProgram.exe, " + running, floor, Milliseconds);
        FigureRow("ratio of medians, Tolvakey / floor", Ratio(program, floor));
        std::fflush(stdout);
    }
    FailureNote(failedRuns);
    Progress("ending the extra processes");
}

void RunningKeyPresses() {
    KeyPressFolder folder;
    const UniqueProcess application(StartProgram(folder.application));
    AwaitRecord(folder.application);
    const Summary warm = WarmKeyPresses(folder);
    CrowdedKeyPresses(folder, warm);
}

// How long a stand-in takes to come up (CreateProcessW to its first line) and to go (its last line
// to the end of its process): the parts of a measured pause that are the system starting and
// ending programs, not Setup waiting.
struct StandInOverhead {
    double startMs = 0, endMs = 0;
};

StandInOverhead MeasureStandIn(const std::wstring& standIn) {
    ::DeleteFileW((standIn + L".log").c_str());
    const std::uint64_t before = EpochMs();
    const UniqueProcess process(StartProgram(standIn));
    WaitForExit(process.get(), RunTimeoutMs);
    const std::uint64_t ended = EpochMs();
    const StandInRecord record = ReadRecord(standIn);
    if (!record.startMs || !record.endMs) {
        throw std::runtime_error("the stand-in left no record");
    }
    return {static_cast<double>(*record.startMs) - static_cast<double>(before),
            static_cast<double>(ended) - static_cast<double>(*record.endMs)};
}

// A process that ran used some processor time, and no more than its time on every processor.
bool Plausible(const Run& run) {
    SYSTEM_INFO system;
    ::GetSystemInfo(&system);
    return run.cpuMs > 0 && run.cpuMs <= run.ms * system.dwNumberOfProcessors;
}

void SetupRunsMeasured() {
    Progress("Setup");
    TempDir kit(L"Tolvanex Kit");
    const std::wstring setup = kit.Make(L"Setup.exe");
    const std::wstring prerequisite = kit.Make(L"msttss22L.exe");
    const std::wstring installer = kit.Make(L"Install.exe");
    const std::wstring probe = kit.Make(L"Probe.exe");
    const std::wstring empty = kit.Make(L"EmptyProgram.exe");
    CopyProgram(L"Setup.exe", setup);
    CopyProgram(L"StandIn.exe", prerequisite);
    CopyProgram(L"StandIn.exe", installer);
    CopyProgram(L"StandIn.exe", probe);
    CopyProgram(L"EmptyProgram.exe", empty);
    WriteText(prerequisite + L".ms", PrerequisiteMs);

    std::vector<double> pauses, starts, ends, setupCpu, emptyCpu;
    int failedRuns = 0;
    bool processTimesPlausible = true;
    for (int i = -1; i < SetupRuns; ++i) { // the first run warms up
        ::DeleteFileW((prerequisite + L".log").c_str());
        ::DeleteFileW((installer + L".log").c_str());
        const Run run = TimeRun(setup, L"", kit.Path());
        AwaitRecord(installer);
        // Its end line too, or it would land in the next run's log.
        const ULONGLONG deadline = ::GetTickCount64() + 10000;
        while (!ReadRecord(installer).endMs && ::GetTickCount64() < deadline) {
            ::Sleep(10);
        }
        const StandInRecord first = ReadRecord(prerequisite), second = ReadRecord(installer);
        const Run baseline = TimeRun(empty, L"", kit.Path());
        const StandInOverhead overhead = MeasureStandIn(probe);
        if (i < 0) {
            continue;
        }
        if (run.exitCode != 0 || !first.endMs || !second.startMs) {
            ++failedRuns;
            continue;
        }
        pauses.push_back(static_cast<double>(*second.startMs) - static_cast<double>(*first.endMs));
        starts.push_back(overhead.startMs);
        ends.push_back(overhead.endMs);
        setupCpu.push_back(run.cpuMs);
        emptyCpu.push_back(baseline.cpuMs);
        processTimesPlausible = processTimesPlausible && Plausible(run) && Plausible(baseline);
    }
    const Summary pause = Summarise(pauses), start = Summarise(starts), end = Summarise(ends);
    TableHead("Setup: msttss22L.exe (a stand-in) runs 200 ms; the pause is Install.exe's start "
              "less msttss22L.exe's end, from the stand-ins' logs");
    TimingRow("pause (goal 1.000–1.050 s)", pause, Seconds);
    TimingRow("a stand-in coming up: CreateProcess to its first line", start, Seconds);
    TimingRow("a stand-in going: its last line to the end of its process", end, Seconds);
    FigureRow("pause less the median coming up and going",
              Amount(pause.median - start.median - end.median, Seconds));

    const Summary setupTime = Summarise(setupCpu), emptyTime = Summarise(emptyCpu);
    if (!processTimesPlausible) {
        // Wine answers for other processes with 0, or with more than a run could have used.
        FigureRow("processor time from GetProcessTimes",
                  "not usable here: 0, or more than the run's time on every processor");
    } else {
        TimingRow("Setup.exe processor time, user + kernel", setupTime, Milliseconds);
        TimingRow("EmptyProgram.exe processor time, user + kernel", emptyTime, Milliseconds);
        FigureRow("difference of medians (goal < 20 ms)",
                  Amount(setupTime.median - emptyTime.median, Milliseconds));
    }
    FailureNote(failedRuns);
    std::fflush(stdout);
}

// The machine a program file is built for, from its PE header.
std::string BuiltFor(const std::wstring& path) {
    std::ifstream in(path.c_str(), std::ios::binary);
    char dosHeader[64] = {};
    if (!in.read(dosHeader, sizeof dosHeader) || dosHeader[0] != 'M' || dosHeader[1] != 'Z') {
        return "not a program";
    }
    std::uint32_t peAt = 0;
    std::memcpy(&peAt, dosHeader + 0x3C, sizeof peAt);
    char signature[6] = {};
    if (!in.seekg(peAt).read(signature, sizeof signature) ||
        std::memcmp(signature, "PE\0\0", 4) != 0) {
        return "not a program";
    }
    const auto machine = static_cast<unsigned>(static_cast<unsigned char>(signature[4]) |
                                               static_cast<unsigned char>(signature[5]) << 8);
    switch (machine) {
    case IMAGE_FILE_MACHINE_I386:
        return "32-bit x86";
    case IMAGE_FILE_MACHINE_AMD64:
        return "64-bit x86-64";
    default:
        return "machine " + std::to_string(machine);
    }
}

// The path from its `count`th last part on: enough to tell the builds apart.
std::wstring LastParts(const std::wstring& path, int count) {
    std::size_t at = path.size();
    for (int part = 0; part < count && at != std::wstring::npos && at > 0; ++part) {
        at = path.rfind(L'\\', at - 1);
    }
    return at == std::wstring::npos ? path : path.substr(at + 1);
}

void FileSizes(std::vector<std::wstring> files) {
    for (const wchar_t* program : {L"Setup.exe", L"Tolvakey.exe"}) {
        files.push_back(BinDir() + L"\\" + program);
    }
    std::printf("\nProgram files\n\n| file | built for | bytes |\n|---|---|--:|\n");
    for (const std::wstring& file : files) {
        WIN32_FILE_ATTRIBUTE_DATA data{};
        const std::string name = Utf8(LastParts(file, 4));
        if (!::GetFileAttributesExW(file.c_str(), GetFileExInfoStandard, &data)) {
            std::printf("| %s | missing | |\n", name.c_str());
            continue;
        }
        const std::uint64_t bytes = (std::uint64_t{data.nFileSizeHigh} << 32) | data.nFileSizeLow;
        std::printf("| %s | %s | %llu |\n", name.c_str(), BuiltFor(file).c_str(),
                    static_cast<unsigned long long>(bytes));
    }
    std::fflush(stdout);
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    try {
        // Leftovers of an interrupted run would count as a running Tolvanex.
        EndProgramsUnder(TempRoot());
        if (CountNamed(ProcessNames(), L"Tolvanex.exe") > 0) {
            throw std::runtime_error("a Tolvanex.exe is running already");
        }
        ColdKeyPresses();
        RunningKeyPresses();
        SetupRunsMeasured();
        FileSizes(std::vector<std::wstring>(argv + 1, argv + argc));
    } catch (const std::exception& error) {
        std::fprintf(stderr, "bench: %s\n", error.what());
        return 1;
    }
    return 0;
}
