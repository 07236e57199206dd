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
#include <numeric>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

using namespace tolvanex::e2e;

namespace {

using tolvanex::UniqueKernelObject;
using tolvanex::UniqueProcess;

constexpr int KeyPressRuns = 25;
constexpr int ColdRuns = 10;
constexpr int CrowdRuns = 10;
constexpr int CrowdSizes[] = {10, 100, 300};
// Enough runs that p90 lies between the third and fourth slowest, and that a slow run one time in
// ten would most likely show (0.9^30 = 4 %); the whole benchmark still takes a few minutes.
constexpr int SetupRuns = 30;
// How many of Setup's slowest runs are shown part by part.
constexpr int SlowRunsShown = 8;
constexpr double PauseGoalLowMs = 1000.0, PauseGoalHighMs = 1050.0;
constexpr double KeyPressGoal = 1.05;
constexpr int Resamples = 2000;
// The first runs of a program pay for reading its file and for Wine's first look at it.
constexpr int WarmUpRuns = 2;
constexpr wchar_t KeyArguments[] = L"3 1";
constexpr char LongRunMs[] = "600000";
constexpr char PrerequisiteMs[] = "200";
// Long enough that Install.exe is still there to be looked at once Setup has ended.
constexpr char MainInstallerMs[] = "600";
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

// FILETIME counts from 1601, the stand-ins' EpochMs from 1970.
constexpr double Ms1601To1970 = 11644473600000.0;

// The stand-ins' clock, to the fraction of a millisecond.
double SystemTimeMs() {
    FILETIME now;
    ::GetSystemTimeAsFileTime(&now);
    return FileTimeMs(now) - Ms1601To1970;
}

struct Run {
    double ms = 0;    // from the CreateProcessW call to the end of the process, as seen from here
    double cpuMs = 0; // user and kernel time the system accounts to the process
    DWORD exitCode = STILL_ACTIVE;
    std::uint64_t endedMs = 0; // on the EpochMs clock the stand-ins write
};

struct Timed {
    UniqueProcess process;
    UniqueKernelObject thread;
    double began = 0;
    std::wstring exe;
};

Timed StartTimed(const std::wstring& exe, const std::wstring& arguments,
                 const std::wstring& folder) {
    std::wstring line = L"\"" + exe + L"\"" + (arguments.empty() ? L"" : L" " + arguments);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info{};
    Timed timed;
    timed.exe = exe;
    timed.began = NowMs();
    if (!::CreateProcessW(exe.c_str(), line.data(), nullptr, nullptr, FALSE, 0, nullptr,
                          folder.c_str(), &startup, &info)) {
        throw std::runtime_error("cannot start " + Utf8(exe));
    }
    timed.thread = UniqueKernelObject(info.hThread);
    timed.process = UniqueProcess(info.hProcess);
    return timed;
}

Run FinishTimed(const Timed& timed) {
    Run run;
    if (!WaitForExit(timed.process.get(), RunTimeoutMs)) {
        ::TerminateProcess(timed.process.get(), 999);
        throw std::runtime_error(Utf8(timed.exe) + " did not end within a minute");
    }
    run.ms = NowMs() - timed.began;
    run.endedMs = EpochMs();
    ::GetExitCodeProcess(timed.process.get(), &run.exitCode);
    FILETIME created, exited, kernel, user;
    if (::GetProcessTimes(timed.process.get(), &created, &exited, &kernel, &user)) {
        run.cpuMs = FileTimeMs(kernel) + FileTimeMs(user);
    }
    return run;
}

Run TimeRun(const std::wstring& exe, const std::wstring& arguments, const std::wstring& folder) {
    return FinishTimed(StartTimed(exe, arguments, folder));
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

// Which of a series of rounds a figure is computed over: all of them once, or a resampling.
using Picks = std::vector<std::size_t>;

Picks AllOf(std::size_t count) {
    Picks picks(count);
    std::iota(picks.begin(), picks.end(), std::size_t{0});
    return picks;
}

double MedianOf(const std::vector<double>& values, const Picks& picks) {
    std::vector<double> picked;
    picked.reserve(picks.size());
    for (const std::size_t pick : picks) {
        picked.push_back(values[pick]);
    }
    std::sort(picked.begin(), picked.end());
    return picked.empty() ? 0.0 : Quantile(picked, 0.5);
}

struct Interval {
    double estimate = 0, low = 0, high = 0;
};

// A figure with its 95 % bootstrap interval: the figure computed again over many resamplings of
// the rounds, with replacement, between the 2.5th and 97.5th percentile of those. `figure`
// takes a function that gives the picks for a series of a given length. Runs of one round are
// resampled together, so that what slowed a whole round slows both sides of a ratio.
template <typename Figure> Interval Bootstrap(Figure figure) {
    Interval interval;
    interval.estimate = figure(AllOf);
    // A fixed seed: the same runs always give the same interval.
    std::mt19937 random(20261210);
    const auto resample = [&random](std::size_t count) {
        Picks picks(count);
        if (count > 0) {
            std::uniform_int_distribution<std::size_t> any(0, count - 1);
            for (std::size_t& pick : picks) {
                pick = any(random);
            }
        }
        return picks;
    };
    std::vector<double> estimates;
    estimates.reserve(Resamples);
    for (int i = 0; i < Resamples; ++i) {
        estimates.push_back(figure(resample));
    }
    std::sort(estimates.begin(), estimates.end());
    interval.low = Quantile(estimates, 0.025);
    interval.high = Quantile(estimates, 0.975);
    return interval;
}

Interval RatioOfMedians(const std::vector<double>& over, const std::vector<double>& under) {
    return Bootstrap([&](auto picksOf) {
        const Picks picks = picksOf(std::min(over.size(), under.size()));
        const double below = MedianOf(under, picks);
        return below > 0 ? MedianOf(over, picks) / below : 0.0;
    });
}

// A goal of "at most": met when the whole interval meets it, not met when none of it does.
std::string AtMost(const Interval& interval, double goal) {
    if (interval.high <= goal) {
        return "met";
    }
    return interval.low > goal ? "not met" : "undecided";
}

struct Unit {
    double perMs;
    int decimals;
    const char* name;
};
constexpr Unit Milliseconds{1.0, 1, "ms"};
constexpr Unit FineMilliseconds{1.0, 3, "ms"};
constexpr Unit Seconds{0.001, 3, "s"};
constexpr Unit Times{1.0, 2, ""};

std::string Fixed(double value, int decimals) {
    char text[48];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    return text;
}

std::string Amount(double ms, const Unit& unit) {
    const std::string number = Fixed(ms * unit.perMs, unit.decimals);
    return *unit.name ? number + " " + unit.name : number;
}

std::string Range(double fromMs, double toMs, const Unit& unit) {
    return Fixed(fromMs * unit.perMs, unit.decimals) + "–" + Amount(toMs, unit);
}

std::string WithInterval(const Interval& interval, const Unit& unit) {
    return Amount(interval.estimate, unit) + " (95 %: " + Range(interval.low, interval.high, unit) +
           ")";
}

void TableHead(const std::string& caption) {
    std::printf("\n%s\n\n| | runs | median | p10–p90 | min–max |\n|---|--:|--:|--:|--:|\n",
                caption.c_str());
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

template <typename Combine>
std::vector<double> PerRound(const std::vector<double>& left, const std::vector<double>& right,
                             Combine combine) {
    std::vector<double> combined;
    for (std::size_t i = 0; i < std::min(left.size(), right.size()); ++i) {
        combined.push_back(combine(left[i], right[i]));
    }
    return combined;
}

double Quotient(double over, double under) {
    return under > 0 ? over / under : 0.0;
}

double Difference(double from, double less) {
    return from - less;
}

// The ratio of a program's runs to the floor's: each run over the floor's run of its round, and
// the ratio of medians with its interval; against a goal of "at most", when there is one.
void RatioRows(const std::string& what, const std::vector<double>& program,
               const std::vector<double>& floor, double goal = 0) {
    TimingRow(what + ", each run over the floor's run in its round",
              Summarise(PerRound(program, floor, Quotient)), Times);
    const Interval ratio = RatioOfMedians(program, floor);
    if (goal > 0) {
        FigureRow("ratio of medians, " + what + " (goal ≤ " + Fixed(goal, 2) + ")",
                  WithInterval(ratio, Times) + ": " + AtMost(ratio, goal));
    } else {
        FigureRow("ratio of medians, " + what, WithInterval(ratio, Times));
    }
}

struct Contender {
    std::wstring exe, arguments;
};

// Each contender's times, round by round: round i holds one run of every contender.
struct Rounds {
    std::vector<std::vector<double>> ms;
    int failedRuns = 0; // runs that did not end with status 0
};

// Runs the contenders in rounds, each round starting with the next contender, so that none
// profits from its place in the round. `after` runs after each run of the first contender, before
// the next contender's run.
template <typename After>
Rounds Interleave(const std::vector<Contender>& contenders, const std::wstring& folder, int runs,
                  After after) {
    Rounds rounds;
    rounds.ms.resize(contenders.size());
    const auto runOne = [&](std::size_t which, bool counted) {
        const Run run = TimeRun(contenders[which].exe, contenders[which].arguments, folder);
        if (which == 0) {
            after(run, counted);
        }
        if (counted) {
            rounds.ms[which].push_back(run.ms);
            rounds.failedRuns += run.exitCode == 0 ? 0 : 1;
        }
    };
    for (int i = 0; i < WarmUpRuns; ++i) {
        for (std::size_t which = 0; which < contenders.size(); ++which) {
            runOne(which, false);
        }
    }
    for (int i = 0; i < runs; ++i) {
        for (std::size_t k = 0; k < contenders.size(); ++k) {
            runOne((static_cast<std::size_t>(i) + k) % contenders.size(), true);
        }
    }
    return rounds;
}

void FailureNote(int failedRuns) {
    if (failedRuns > 0) {
        std::printf("\n%d of the runs above did not end with exit status 0.\n", failedRuns);
    }
}

bool SameName(const std::wstring& left, const std::wstring& right) {
    return ::CompareStringOrdinal(left.c_str(), -1, right.c_str(), -1, TRUE) == CSTR_EQUAL;
}

int CountNamed(const std::vector<std::wstring>& names, const std::wstring& name) {
    return static_cast<int>(std::count_if(names.begin(), names.end(),
                                          [&](const auto& each) { return SameName(each, name); }));
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
// its bare name), the floor program and the empty one.
struct KeyPressFolder {
    TempDir dir{L"Tolvanex"};
    std::wstring launcher = dir.Make(L"Tolvakey.exe");
    std::wstring application = dir.Make(L"Tolvanex.exe");
    std::wstring floor = dir.Make(L"FloorProgram.exe");
    std::wstring empty = dir.Make(L"EmptyProgram.exe");

    KeyPressFolder() {
        CopyProgram(L"Tolvakey.exe", launcher);
        CopyProgram(L"StandIn.exe", application);
        CopyProgram(L"FloorProgram.exe", floor);
        CopyProgram(L"EmptyProgram.exe", empty);
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
    const Rounds rounds = Interleave({{folder.launcher, KeyArguments}, {folder.floor, L""}},
                                     folder.dir.Path(), ColdRuns, endApplication);
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
    const std::vector<double>&program = rounds.ms[0], &floor = rounds.ms[1];
    TableHead("Key press, Tolvanex not running: Tolvakey starts `Tolvanex.exe /h` (a stand-in), "
              "and it is ended after each run");
    TimingRow("Tolvakey.exe 3 1, starting Tolvanex", Summarise(program), Milliseconds);
    TimingRow("FloorProgram.exe, interleaved", Summarise(floor), Milliseconds);
    RatioRows("Tolvakey / floor", program, floor);
    FigureRow("runs in which Tolvanex wrote its first line after Tolvakey had ended",
              std::to_string(startedAfterEnd) + " of " + std::to_string(program.size()));
    TimingRow("the CreateProcessW call alone that starts the stand-in, timed here",
              Summarise(calls), Milliseconds);
    FailureNote(rounds.failedRuns);
    if (notStarted > 0) {
        std::printf("\nIn %d runs Tolvanex was not seen starting.\n", notStarted);
    }
    std::fflush(stdout);
}

void IgnoreRun(const Run&, bool) {}

// The programs of a key-press round, by their place in it: Tolvakey, the floor program, the empty
// one, and the floor program told to skip the process list, which tells the walk's own cost.
constexpr std::size_t TolvakeyRun = 0, FloorRun = 1, EmptyRun = 2, UnwalkedFloorRun = 3;
constexpr wchar_t NoWalk[] = L"--no-walk";

Rounds KeyPressRounds(const KeyPressFolder& folder, int runs) {
    return Interleave({{folder.launcher, KeyArguments},
                       {folder.floor, L""},
                       {folder.empty, L""},
                       {folder.floor, NoWalk}},
                      folder.dir.Path(), runs, IgnoreRun);
}

Rounds WarmKeyPresses(const KeyPressFolder& folder) {
    Progress("key press, Tolvanex running");
    const Rounds rounds = KeyPressRounds(folder, KeyPressRuns);
    TableHead("Key press, Tolvanex running: `Tolvakey.exe 3 1` against FloorProgram.exe, from "
              "CreateProcess to the end of the process, in rounds with EmptyProgram.exe and "
              "`FloorProgram.exe --no-walk` (the floor without the process list)");
    TimingRow("Tolvakey.exe 3 1", Summarise(rounds.ms[TolvakeyRun]), Milliseconds);
    TimingRow("FloorProgram.exe", Summarise(rounds.ms[FloorRun]), Milliseconds);
    TimingRow("EmptyProgram.exe", Summarise(rounds.ms[EmptyRun]), Milliseconds);
    TimingRow("FloorProgram.exe --no-walk", Summarise(rounds.ms[UnwalkedFloorRun]), Milliseconds);
    RatioRows("Tolvakey / floor", rounds.ms[TolvakeyRun], rounds.ms[FloorRun], KeyPressGoal);
    FailureNote(rounds.failedRuns);
    std::fflush(stdout);
    return rounds;
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

// How much (a program less another of the same round) grows per extra process: its median with
// the extra processes less its median with none, over the number of extra processes. Less the
// empty program, what starting any process costs more in a longer list drops out; less the floor
// program without its walk, all but the walk does.
Interval GrowthPerProcess(const Rounds& crowded, const Rounds& calm, std::size_t program,
                          std::size_t less, int extra) {
    const std::vector<double> more = PerRound(crowded.ms[program], crowded.ms[less], Difference);
    const std::vector<double> none = PerRound(calm.ms[program], calm.ms[less], Difference);
    return Bootstrap([&](auto picksOf) {
        return (MedianOf(more, picksOf(more.size())) - MedianOf(none, picksOf(none.size()))) /
               extra;
    });
}

void CrowdedKeyPresses(const KeyPressFolder& folder, const Rounds& calm) {
    TempDir crowd(L"crowd");
    const std::wstring busy = crowd.Make(L"Busy.exe");
    CopyProgram(L"StandIn.exe", busy);
    WriteText(busy + L".ms", LongRunMs);
    int started = 0, failedRuns = 0;
    TableHead("Process list: Tolvakey (Tolvanex running) with more processes running, each a "
              "copy of the stand-in sleeping, in rounds with FloorProgram.exe, EmptyProgram.exe "
              "and `FloorProgram.exe --no-walk` (neither walks the list). Per extra process: "
              "(one program less another of the same round), its median grown since no extra "
              "processes, over the number of extra processes");
    TimingRow("Tolvakey.exe 3 1, no extra processes (the runs above)",
              Summarise(calm.ms[TolvakeyRun]), Milliseconds);
    TimingRow("EmptyProgram.exe, no extra processes (the runs above)", Summarise(calm.ms[EmptyRun]),
              Milliseconds);
    for (const int size : CrowdSizes) {
        Progress(("key press beside " + std::to_string(size) + " extra processes").c_str());
        GrowCrowd(busy, started, size);
        const std::vector<std::wstring> names = ProcessNames();
        const Rounds rounds = KeyPressRounds(folder, CrowdRuns);
        failedRuns += rounds.failedRuns;
        const int extra = CountNamed(names, L"Busy.exe");
        const std::string running =
            std::to_string(extra) + " extra (" + std::to_string(names.size()) + " in the list)";
        TimingRow("Tolvakey.exe 3 1, " + running, Summarise(rounds.ms[TolvakeyRun]), Milliseconds);
        TimingRow("FloorProgram.exe, " + running, Summarise(rounds.ms[FloorRun]), Milliseconds);
        TimingRow("EmptyProgram.exe, " + running, Summarise(rounds.ms[EmptyRun]), Milliseconds);
        TimingRow("FloorProgram.exe --no-walk, " + running, Summarise(rounds.ms[UnwalkedFloorRun]),
                  Milliseconds);
        FigureRow("ratio of medians, Tolvakey / floor",
                  WithInterval(RatioOfMedians(rounds.ms[TolvakeyRun], rounds.ms[FloorRun]), Times));
        if (extra > 0) {
            const auto perProcess = [&](const char* what, std::size_t program, std::size_t less) {
                FigureRow(std::string("per extra process: ") + what,
                          WithInterval(GrowthPerProcess(rounds, calm, program, less, extra),
                                       FineMilliseconds));
            };
            perProcess("Tolvakey less EmptyProgram.exe", TolvakeyRun, EmptyRun);
            perProcess("FloorProgram.exe less EmptyProgram.exe", FloorRun, EmptyRun);
            perProcess("the walk alone: FloorProgram.exe less FloorProgram.exe --no-walk", FloorRun,
                       UnwalkedFloorRun);
            const Interval growth = Bootstrap([&](auto picksOf) {
                const std::vector<double>&more = rounds.ms[EmptyRun], &none = calm.ms[EmptyRun];
                return (MedianOf(more, picksOf(more.size())) -
                        MedianOf(none, picksOf(none.size()))) /
                       extra;
            });
            FigureRow("per extra process: EmptyProgram.exe's own growth",
                      WithInterval(growth, FineMilliseconds));
        }
        std::fflush(stdout);
    }
    FailureNote(failedRuns);
    Progress("ending the extra processes");
}

void RunningKeyPresses() {
    KeyPressFolder folder;
    const UniqueProcess application(StartProgram(folder.application));
    AwaitRecord(folder.application);
    const Rounds calm = WarmKeyPresses(folder);
    CrowdedKeyPresses(folder, calm);
}

// When the system created a process and when it ended, on the stand-ins' clock; 0 when unknown.
struct Lifetime {
    double createdMs = 0, exitedMs = 0;
};

Lifetime LifetimeOf(HANDLE process) {
    Lifetime lifetime;
    FILETIME created{}, exited{}, kernel{}, user{};
    if (process != nullptr && ::GetProcessTimes(process, &created, &exited, &kernel, &user)) {
        const double createdMs = FileTimeMs(created), exitedMs = FileTimeMs(exited);
        lifetime.createdMs = createdMs > 0 ? createdMs - Ms1601To1970 : 0;
        lifetime.exitedMs = exitedMs > 0 ? exitedMs - Ms1601To1970 : 0;
    }
    return lifetime;
}

// How long a stand-in takes to come up (CreateProcessW to its first line) and to go (its last line
// to the end of its process): the parts of a measured pause that are the system starting and
// ending programs, not Setup waiting.
// Also the part of coming up that falls in the starter's own time: its CreateProcessW call up to
// the moment the system records the new process as created.
struct StandInOverhead {
    double startMs = 0, endMs = 0, callToCreationMs = 0;
};

StandInOverhead MeasureStandIn(const std::wstring& standIn) {
    ::DeleteFileW((standIn + L".log").c_str());
    const double before = SystemTimeMs();
    const UniqueProcess process(StartProgram(standIn));
    WaitForExit(process.get(), RunTimeoutMs);
    const double ended = SystemTimeMs();
    const StandInRecord record = ReadRecord(standIn);
    if (!record.startMs || !record.endMs) {
        throw std::runtime_error("the stand-in left no record");
    }
    const Lifetime lifetime = LifetimeOf(process.get());
    return {static_cast<double>(*record.startMs) - before,
            ended - static_cast<double>(*record.endMs),
            lifetime.createdMs > 0 ? lifetime.createdMs - before : 0};
}

// Opens the first running process of that name to watch it; an empty owner when none came up in
// time. The name is looked for often: the prerequisite stand-in lives only a fifth of a second.
UniqueProcess OpenRunning(const std::wstring& name, DWORD timeoutMs) {
    const ULONGLONG deadline = ::GetTickCount64() + timeoutMs;
    for (;;) {
        const tolvanex::UniqueSnapshot snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
        PROCESSENTRY32W entry{};
        entry.dwSize = sizeof entry;
        for (BOOL more = snapshot && ::Process32FirstW(snapshot.get(), &entry); more;
             more = ::Process32NextW(snapshot.get(), &entry)) {
            if (SameName(entry.szExeFile, name)) {
                UniqueProcess process(::OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION,
                                                    FALSE, entry.th32ProcessID));
                if (process) {
                    return process;
                }
            }
        }
        if (::GetTickCount64() > deadline) {
            return UniqueProcess();
        }
        ::Sleep(2);
    }
}

// A process that ran used some processor time, and no more than its time on every processor.
bool Plausible(const Run& run) {
    SYSTEM_INFO system;
    ::GetSystemInfo(&system);
    return run.cpuMs > 0 && run.cpuMs <= run.ms * system.dwNumberOfProcessors;
}

// One Setup run's pause and its parts, which add up to the pause: the prerequisite going (its
// last line to the end of its process), Setup (from then to Install.exe's creation: waking from
// its wait, the pause itself, starting Install.exe) and Install.exe coming up (its creation to its
// first line). Beside them, a probe stand-in started right after the run, coming up and going.
struct PauseParts {
    int run = 0;
    double pauseMs = 0;
    bool split = false; // the system told both processes' times
    double goingMs = 0, setupMs = 0, comingUpMs = 0;
    StandInOverhead probe;
};

void SlowestRuns(std::vector<PauseParts> runs) {
    std::sort(runs.begin(), runs.end(),
              [](const PauseParts& a, const PauseParts& b) { return a.pauseMs > b.pauseMs; });
    runs.resize(std::min(runs.size(), static_cast<std::size_t>(SlowRunsShown)));
    std::printf("\nSetup's %zu slowest runs, part by part (seconds; the pause is the sum of the "
                "three parts after it; the probe ran right after the run)\n\n| run | pause | "
                "msttss22L.exe going | Setup | Install.exe coming up | probe: CreateProcessW to "
                "creation | probe coming up | probe going |\n|--:|--:|--:|--:|--:|--:|--:|--:|\n",
                runs.size());
    for (const PauseParts& parts : runs) {
        const auto part = [&](double ms) {
            return parts.split ? Fixed(ms * Seconds.perMs, Seconds.decimals) : std::string("–");
        };
        std::printf("| %d | %s | %s | %s | %s | %s | %s | %s |\n", parts.run,
                    Fixed(parts.pauseMs * Seconds.perMs, Seconds.decimals).c_str(),
                    part(parts.goingMs).c_str(), part(parts.setupMs).c_str(),
                    part(parts.comingUpMs).c_str(),
                    Fixed(parts.probe.callToCreationMs * Seconds.perMs, Seconds.decimals).c_str(),
                    Fixed(parts.probe.startMs * Seconds.perMs, Seconds.decimals).c_str(),
                    Fixed(parts.probe.endMs * Seconds.perMs, Seconds.decimals).c_str());
    }
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
    WriteText(installer + L".ms", MainInstallerMs);

    std::vector<PauseParts> measured;
    std::vector<double> setupCpu, emptyCpu;
    int failedRuns = 0;
    bool processTimesPlausible = true;
    for (int i = -1; i < SetupRuns; ++i) { // the first run warms up
        if (i >= 0 && i % 5 == 0) {
            Progress(("Setup run " + std::to_string(i + 1) + " of " + std::to_string(SetupRuns))
                         .c_str());
        }
        ::DeleteFileW((prerequisite + L".log").c_str());
        ::DeleteFileW((installer + L".log").c_str());
        const Timed timed = StartTimed(setup, L"", kit.Path());
        // Watched from here while it runs, so that the system can tell when it ended.
        const UniqueProcess first = OpenRunning(L"msttss22L.exe", 5000);
        const Run run = FinishTimed(timed);
        const UniqueProcess second = OpenRunning(L"Install.exe", 2000);
        // Its end line too, or it would land in the next run's log; and its process gone, or the
        // next run would find it.
        if (second) {
            WaitForExit(second.get(), 10000);
        } else {
            const ULONGLONG deadline = ::GetTickCount64() + 10000;
            while (ReadRecord(installer).starts > 0 && !ReadRecord(installer).endMs &&
                   ::GetTickCount64() < deadline) {
                ::Sleep(10);
            }
        }
        const StandInRecord firstRecord = ReadRecord(prerequisite),
                            secondRecord = ReadRecord(installer);
        const Lifetime firstLife = LifetimeOf(first.get()), secondLife = LifetimeOf(second.get());
        const Run baseline = TimeRun(empty, L"", kit.Path());
        PauseParts parts;
        parts.probe = MeasureStandIn(probe);
        if (i < 0) {
            continue;
        }
        if (run.exitCode != 0 || !firstRecord.endMs || !secondRecord.startMs) {
            ++failedRuns;
            continue;
        }
        const auto firstEnd = static_cast<double>(*firstRecord.endMs);
        const auto secondStart = static_cast<double>(*secondRecord.startMs);
        parts.run = i + 1;
        parts.pauseMs = secondStart - firstEnd;
        parts.split = firstLife.exitedMs > 0 && secondLife.createdMs > 0;
        if (parts.split) {
            parts.goingMs = firstLife.exitedMs - firstEnd;
            parts.setupMs = secondLife.createdMs - firstLife.exitedMs;
            parts.comingUpMs = secondStart - secondLife.createdMs;
        }
        measured.push_back(parts);
        setupCpu.push_back(run.cpuMs);
        emptyCpu.push_back(baseline.cpuMs);
        processTimesPlausible = processTimesPlausible && Plausible(run) && Plausible(baseline);
    }

    std::vector<double> pauses, going, setupPart, setupLessCall, comingUp, probeCall, probeStart,
        probeEnd;
    int withinGoal = 0, setupWithinGoal = 0;
    for (const PauseParts& parts : measured) {
        pauses.push_back(parts.pauseMs);
        withinGoal += parts.pauseMs >= PauseGoalLowMs && parts.pauseMs <= PauseGoalHighMs;
        if (parts.split) {
            going.push_back(parts.goingMs);
            setupPart.push_back(parts.setupMs);
            setupWithinGoal += parts.setupMs >= PauseGoalLowMs && parts.setupMs <= PauseGoalHighMs;
            setupLessCall.push_back(parts.setupMs - parts.probe.callToCreationMs);
            comingUp.push_back(parts.comingUpMs);
        }
        probeCall.push_back(parts.probe.callToCreationMs);
        probeStart.push_back(parts.probe.startMs);
        probeEnd.push_back(parts.probe.endMs);
    }
    TableHead("Setup: msttss22L.exe (a stand-in) runs 200 ms; the pause is Install.exe's first "
              "line less msttss22L.exe's last line, from the stand-ins' logs; its parts are split "
              "where the system records msttss22L.exe's end and Install.exe's creation "
              "(GetProcessTimes, on handles opened from here while they run)");
    TimingRow("pause (goal 1.000–1.050 s in every run)", Summarise(pauses), Seconds);
    const bool allWithin = !measured.empty() && withinGoal == static_cast<int>(measured.size());
    FigureRow("runs with the pause within 1.000–1.050 s",
              std::to_string(withinGoal) + " of " + std::to_string(measured.size()) + ": " +
                  (allWithin ? "met" : "not met"));
    TimingRow("msttss22L.exe going: its last line to the end of its process", Summarise(going),
              Seconds);
    TimingRow("Setup: msttss22L.exe's end to Install.exe's creation", Summarise(setupPart),
              Seconds);
    FigureRow("runs with Setup's part within 1.000–1.050 s",
              std::to_string(setupWithinGoal) + " of " + std::to_string(setupPart.size()));
    TimingRow("Install.exe coming up: its creation to its first line", Summarise(comingUp),
              Seconds);
    TimingRow("a probe stand-in started from here after each run: its CreateProcessW call to "
              "its creation",
              Summarise(probeCall), Seconds);
    TimingRow("Setup's part less the probe's CreateProcessW-to-creation, run by run",
              Summarise(setupLessCall), Seconds);
    TimingRow("the probe coming up: CreateProcessW to its first line", Summarise(probeStart),
              Seconds);
    TimingRow("the probe going: its last line to the end of its process as seen here",
              Summarise(probeEnd), Seconds);

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
    SlowestRuns(measured);
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

// Which build was timed, read from the program files themselves rather than taken on trust.
void ProgramsTimed() {
    const std::wstring tolvakey = BinDir() + L"\\Tolvakey.exe";
    std::printf(
        "\nPrograms timed: the %s build in %s; intervals are 95 %% bootstrap intervals (the "
        "figure over %d resamplings of the rounds, each round one run of every program "
        "compared); a goal is met when the whole interval meets it, not met when none of "
        "it does, undecided otherwise.\n",
        BuiltFor(tolvakey).c_str(), Utf8(LastParts(BinDir(), 3)).c_str(), Resamples);
    std::fflush(stdout);
}

void FileSizes(const std::vector<std::wstring>& given) {
    std::vector<std::wstring> files;
    for (const wchar_t* program : {L"Setup.exe", L"Tolvakey.exe"}) {
        files.push_back(BinDir() + L"\\" + program);
    }
    for (const std::wstring& file : given) {
        if (std::none_of(files.begin(), files.end(),
                         [&](const std::wstring& each) { return SameName(each, file); })) {
            files.push_back(file);
        }
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
        ProgramsTimed();
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
