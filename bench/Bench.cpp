// Times Tolvakey and Setup on this machine, beside the least programs that could do their work,
// and writes every run as one record, a line of JSON, to the file given with --out. It computes
// no figures: bench/analysis.py reads the records, judges them with SciPy and draws them, so that
// a run can be looked at again, checked, and compared with the next build's (scripts/bench).
// Usage: Bench.exe --out FILE [--machine TEXT] [--build TEXT] [--quick] [PROGRAM...]. The
// programs are files whose sizes are recorded besides those of the programs next to this one;
// --build names the build timed (it must begin with what the program files say they are built
// for). --quick takes few rounds, to try the chain end to end; its figures are too few to judge
// anything by.
#include "UniqueHandle.h"
#include "WinKit.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

using namespace tolvanex::e2e;

namespace {

using tolvanex::UniqueKernelObject;
using tolvanex::UniqueProcess;

// How many rounds each case takes; --quick divides them.
struct Plan {
    int keyPressRounds = 25;
    int coldRounds = 10;
    int crowdRounds = 10;
    // Enough runs that a slow run one time in ten would most likely show (0.9^30 = 4 %).
    int setupRuns = 30;
};
constexpr int CrowdSizes[] = {10, 100, 300};
// The first runs of a program pay for reading its file and for Wine's first look at it.
constexpr int WarmUpRuns = 2;
constexpr wchar_t KeyArguments[] = L"3 1";
constexpr wchar_t NoWalk[] = L"--no-walk";
constexpr char LongRunMs[] = "600000";
constexpr char PrerequisiteMs[] = "200";
// Long enough that Install.exe is still there to be looked at once Setup has ended.
constexpr char MainInstallerMs[] = "600";
constexpr DWORD RunTimeoutMs = 60000;

// One line of JSON: the fields in the order they are added.
class Record {
  public:
    explicit Record(const char* kind) { Text("record", kind); }
    Record& Text(const char* key, const std::string& value) {
        Key(key);
        line_ += '"';
        for (const char c : value) {
            if (c == '"' || c == '\\') {
                line_ += '\\';
                line_ += c;
            } else if (static_cast<unsigned char>(c) < 0x20) {
                char escaped[8];
                std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned>(c));
                line_ += escaped;
            } else {
                line_ += c;
            }
        }
        line_ += '"';
        return *this;
    }
    // Milliseconds to the microsecond; null for a time that was not told.
    Record& Ms(const char* key, double value, bool known = true) {
        Key(key);
        if (!known || !std::isfinite(value)) {
            line_ += "null";
        } else {
            char number[48];
            std::snprintf(number, sizeof number, "%.3f", value);
            line_ += number;
        }
        return *this;
    }
    Record& Whole(const char* key, long long value) {
        Key(key);
        line_ += std::to_string(value);
        return *this;
    }
    Record& Flag(const char* key, bool value) {
        Key(key);
        line_ += value ? "true" : "false";
        return *this;
    }
    const std::string& Line() const { return line_; }

  private:
    void Key(const char* key) {
        line_ += line_.empty() ? "{\"" : ", \"";
        line_ += key;
        line_ += "\": ";
    }
    std::string line_;
};

// The records go to the file as they are made, so that a run cut short leaves a file that says
// so (it lacks the end record scripts/bench adds) instead of nothing at all.
class Recorder {
  public:
    Recorder(const std::wstring& path, std::string machine, std::string build)
        : out_(path.c_str(), std::ios::binary | std::ios::trunc), machine_(std::move(machine)),
          build_(std::move(build)) {
        if (!out_) {
            throw std::runtime_error("cannot write " + Utf8(path));
        }
    }
    // A record of one timed run, with the machine and build it ran on.
    Record Run(const char* caseName, const char* program, int round) const {
        Record record("run");
        record.Text("machine", machine_).Text("build", build_).Text("case", caseName);
        record.Text("program", program).Whole("round", round);
        return record;
    }
    void Write(const Record& record) {
        out_ << record.Line() << "}\n";
        out_.flush();
        if (!out_) {
            throw std::runtime_error("cannot write the records");
        }
    }

  private:
    std::ofstream out_;
    std::string machine_, build_;
};

// How far the run has come and how long is left, on standard error: a bar redrawn in place on a
// terminal (scripts/bench says whether it is one), a line every tenth otherwise. Runs are weighed
// by how long they take, so that the time left does not jump when Setup's long runs begin.
class Progress {
  public:
    Progress(double totalWeight, bool terminal) : total_(totalWeight), terminal_(terminal) {
        began_ = ::GetTickCount64();
    }
    void Stage(const std::string& stage) {
        stage_ = stage;
        Draw();
    }
    void Done(double weight) {
        done_ += weight;
        Draw();
    }
    void Finish() {
        done_ = total_;
        Draw();
        if (terminal_) {
            std::fputc('\n', stderr);
        }
    }

  private:
    void Draw() {
        const double fraction = total_ > 0 ? std::min(1.0, done_ / total_) : 1.0;
        const int tenth = static_cast<int>(fraction * 10);
        if (!terminal_ && tenth == lastTenth_) {
            return;
        }
        lastTenth_ = tenth;
        const double elapsedS = static_cast<double>(::GetTickCount64() - began_) / 1000.0;
        std::string left = "--:--";
        if (done_ > 0) {
            const auto seconds = static_cast<long>(elapsedS / done_ * (total_ - done_) + 0.5);
            char text[32];
            std::snprintf(text, sizeof text, "%ld:%02ld", seconds / 60, seconds % 60);
            left = text;
        }
        constexpr int Width = 30;
        const int filled = static_cast<int>(fraction * Width);
        const std::string bar = std::string(filled, '#') + std::string(Width - filled, '.');
        std::fprintf(stderr, "%sbench: [%s] %3d %%, about %s left: %-44.44s%s",
                     terminal_ ? "\r" : "", bar.c_str(), static_cast<int>(fraction * 100),
                     left.c_str(), stage_.c_str(), terminal_ ? "" : "\n");
        std::fflush(stderr);
    }

    double total_, done_ = 0;
    bool terminal_;
    ULONGLONG began_ = 0;
    std::string stage_;
    int lastTenth_ = -1;
};

// What a run weighs in the progress bar, in key presses: one Setup round (Setup's one-second
// pause after a 200 ms prerequisite, the empty program, the probe) is worth about fifteen, and
// bringing up the crowd of extra processes about one per process.
constexpr double KeyPressWeight = 1, SetupWeight = 15, CrowdProcessWeight = 1;

double PlannedWeight(const Plan& plan) {
    const int keyPressRounds =
        plan.coldRounds * 2 + plan.coldRounds // the CreateProcessW calls
        + (WarmUpRuns + plan.keyPressRounds) * 4 +
        static_cast<int>(std::size(CrowdSizes)) * (WarmUpRuns + plan.crowdRounds) * 4 +
        WarmUpRuns * 2;
    int crowd = 0;
    for (const int size : CrowdSizes) {
        crowd = std::max(crowd, size);
    }
    return keyPressRounds * KeyPressWeight + (plan.setupRuns + 1) * SetupWeight +
           crowd * CrowdProcessWeight;
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

struct Contender {
    const char* name; // the program's name in the records
    std::wstring exe, arguments;
};

// Runs the contenders in rounds, each round starting with the next contender, so that none
// profits from its place in the round, and records every counted run. `after` runs after each
// run of the first contender, before the next contender's run, and may add to its record.
template <typename After>
void Interleave(Recorder& recorder, Progress& progress, const char* caseName,
                const std::vector<Contender>& contenders, const std::wstring& folder, int rounds,
                int extra, After after) {
    const auto runOne = [&](std::size_t which, int round) {
        const Contender& contender = contenders[which];
        const Run run = TimeRun(contender.exe, contender.arguments, folder);
        Record record = recorder.Run(caseName, contender.name, round);
        record.Whole("extra", extra).Whole("place", static_cast<long long>(which));
        record.Ms("ms", run.ms).Whole("exit", static_cast<long long>(run.exitCode));
        if (which == 0) {
            after(run, record, round > 0);
        }
        if (round > 0) {
            recorder.Write(record);
        }
        progress.Done(KeyPressWeight);
    };
    for (int i = 0; i < WarmUpRuns; ++i) {
        for (std::size_t which = 0; which < contenders.size(); ++which) {
            runOne(which, 0);
        }
    }
    for (int i = 0; i < rounds; ++i) {
        for (std::size_t k = 0; k < contenders.size(); ++k) {
            runOne((static_cast<std::size_t>(i) + k) % contenders.size(), i + 1);
        }
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

// Key press with Tolvanex not running: Tolvakey starts `Tolvanex.exe /h` (a stand-in), which is
// ended after each run. Tolvakey's record says whether Tolvanex was seen starting and whether its
// first line came after Tolvakey had ended (Tolvakey waits for nothing once it has started it).
void ColdKeyPresses(Recorder& recorder, Progress& progress, const Plan& plan) {
    progress.Stage("key press, Tolvanex not running");
    KeyPressFolder folder;
    // Every start before the run has been waited for and its program ended, so the count in the
    // log stays put until this run starts Tolvanex.
    int startsBefore = 0;
    const auto endApplication = [&](const Run& run, Record& record, bool) {
        const bool started = AwaitStarts(folder.application, startsBefore + 1, 10000);
        EndProgramsUnder(folder.dir.Path());
        const StandInRecord log = ReadRecord(folder.application);
        startsBefore = log.starts;
        record.Flag("tolvanex_started", started);
        record.Flag("tolvanex_after_end", started && log.startMs && *log.startMs >= run.endedMs);
    };
    Interleave(recorder, progress, "cold",
               {{"Tolvakey", folder.launcher, KeyArguments}, {"floor", folder.floor, L""}},
               folder.dir.Path(), plan.coldRounds, 0, endApplication);
    // What starting Tolvanex costs whoever starts it, waiting for nothing: the call alone.
    for (int i = 0; i < plan.coldRounds; ++i) {
        const double began = NowMs();
        const UniqueProcess process(StartProgram(folder.application));
        const double callMs = NowMs() - began;
        recorder.Write(recorder.Run("start call", "CreateProcessW", i + 1).Ms("ms", callMs));
        AwaitStarts(folder.application, startsBefore + 1, 10000);
        EndProgramsUnder(folder.dir.Path());
        startsBefore = ReadRecord(folder.application).starts;
        progress.Done(KeyPressWeight);
    }
}

void NothingAfter(const Run&, Record&, bool) {}

// A key-press round with Tolvanex running: Tolvakey, the floor program, the empty one, and the
// floor program told to skip the process list, which tells the walk's own cost.
void KeyPressRounds(Recorder& recorder, Progress& progress, const KeyPressFolder& folder,
                    int rounds, int extra) {
    Interleave(recorder, progress, "running",
               {{"Tolvakey", folder.launcher, KeyArguments},
                {"floor", folder.floor, L""},
                {"empty", folder.empty, L""},
                {"floor --no-walk", folder.floor, NoWalk}},
               folder.dir.Path(), rounds, extra, NothingAfter);
}

// Starts copies of a long-running stand-in until `size` run, and waits for each to come up.
void GrowCrowd(Progress& progress, const std::wstring& busy, int& started, int size) {
    const int before = started;
    for (; started < size; ++started) {
        const UniqueProcess process(StartProgram(busy));
    }
    if (!AwaitStarts(busy, size, 180000)) {
        std::fprintf(stderr, "\nbench: not every extra stand-in came up; the records say how "
                             "many ran\n");
    }
    progress.Done((started - before) * CrowdProcessWeight);
}

// How many extra processes run and how long the process list is, as a record of its own before
// the rounds beside them; the extra processes counted, whether or not all `planned` came up.
int RecordCrowd(Recorder& recorder, int planned) {
    const std::vector<std::wstring> names = ProcessNames();
    const int extra = CountNamed(names, L"Busy.exe");
    recorder.Write(Record("crowd")
                       .Whole("planned", planned)
                       .Whole("extra", extra)
                       .Whole("listed", static_cast<long long>(names.size())));
    return extra;
}

// Key presses with Tolvanex running, with no extra processes and then with more and more copies
// of a sleeping stand-in running; each record says how many ran and how long the list was.
void RunningKeyPresses(Recorder& recorder, Progress& progress, const Plan& plan) {
    KeyPressFolder folder;
    const UniqueProcess application(StartProgram(folder.application));
    AwaitRecord(folder.application);
    progress.Stage("key press, Tolvanex running");
    RecordCrowd(recorder, 0);
    KeyPressRounds(recorder, progress, folder, plan.keyPressRounds, 0);

    TempDir crowd(L"crowd");
    const std::wstring busy = crowd.Make(L"Busy.exe");
    CopyProgram(L"StandIn.exe", busy);
    WriteText(busy + L".ms", LongRunMs);
    int started = 0;
    for (const int size : CrowdSizes) {
        progress.Stage("key press beside " + std::to_string(size) + " extra processes");
        GrowCrowd(progress, busy, started, size);
        KeyPressRounds(recorder, progress, folder, plan.crowdRounds, RecordCrowd(recorder, size));
    }
    progress.Stage("ending the extra processes");
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
// Setup's runs: msttss22L.exe (a stand-in) runs 200 ms; the pause is Install.exe's first line
// less msttss22L.exe's last line, from the stand-ins' logs. Each run's record splits it where the
// system records msttss22L.exe's end and Install.exe's creation (GetProcessTimes on handles opened
// from here while they run, so Setup itself is only watched from outside): the prerequisite going
// (its last line to the end of its process), Setup (from then to Install.exe's creation: waking
// from its wait, the pause itself, starting Install.exe) and Install.exe coming up (its creation
// to its first line). Beside them, in the same round, the empty program's run, and a probe
// stand-in started right after, coming up and going.
void SetupRuns(Recorder& recorder, Progress& progress, const Plan& plan) {
    progress.Stage("Setup");
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

    for (int round = 0; round <= plan.setupRuns; ++round) { // round 0 warms up
        progress.Stage("Setup run " + std::to_string(round) + " of " +
                       std::to_string(plan.setupRuns));
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
        const StandInRecord firstLog = ReadRecord(prerequisite), secondLog = ReadRecord(installer);
        const Lifetime firstLife = LifetimeOf(first.get()), secondLife = LifetimeOf(second.get());
        const Run baseline = TimeRun(empty, L"", kit.Path());
        const StandInOverhead probed = MeasureStandIn(probe);
        progress.Done(SetupWeight);
        if (round == 0) {
            continue;
        }
        // Times a log or the system did not tell are null; the analysis counts such runs.
        const bool logged = firstLog.endMs && secondLog.startMs;
        const double firstEnd = logged ? static_cast<double>(*firstLog.endMs) : 0;
        const double secondStart = logged ? static_cast<double>(*secondLog.startMs) : 0;
        const bool split = logged && firstLife.exitedMs > 0 && secondLife.createdMs > 0;
        Record record = recorder.Run("setup", "Setup", round);
        record.Ms("ms", run.ms).Whole("exit", static_cast<long long>(run.exitCode));
        record.Ms("cpu_ms", run.cpuMs);
        record.Ms("pause_ms", secondStart - firstEnd, logged);
        record.Ms("going_ms", firstLife.exitedMs - firstEnd, split);
        record.Ms("setup_ms", secondLife.createdMs - firstLife.exitedMs, split);
        record.Ms("coming_up_ms", secondStart - secondLife.createdMs, split);
        record.Ms("probe_call_ms", probed.callToCreationMs, probed.callToCreationMs > 0);
        record.Ms("probe_start_ms", probed.startMs).Ms("probe_end_ms", probed.endMs);
        recorder.Write(record);
        recorder.Write(recorder.Run("setup", "empty", round)
                           .Ms("ms", baseline.ms)
                           .Whole("exit", static_cast<long long>(baseline.exitCode))
                           .Ms("cpu_ms", baseline.cpuMs));
    }
}

// The machine a program file is built for, in words.
std::string BuiltFor(const std::wstring& path) {
    switch (const WORD machine = ProgramMachine(path)) {
    case 0:
        return "not a program";
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

void FileSizes(Recorder& recorder, const std::vector<std::wstring>& given) {
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
    for (const std::wstring& file : files) {
        WIN32_FILE_ATTRIBUTE_DATA data{};
        Record record("file");
        record.Text("file", Utf8(LastParts(file, 4)));
        if (!::GetFileAttributesExW(file.c_str(), GetFileExInfoStandard, &data)) {
            record.Text("built_for", "missing");
        } else {
            const std::uint64_t bytes =
                (std::uint64_t{data.nFileSizeHigh} << 32) | data.nFileSizeLow;
            record.Text("built_for", BuiltFor(file)).Whole("bytes", static_cast<long long>(bytes));
        }
        recorder.Write(record);
    }
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    try {
        std::wstring out;
        std::string machine = "unknown", build;
        Plan plan;
        std::vector<std::wstring> files;
        for (int i = 1; i < argc; ++i) {
            const std::wstring argument = argv[i];
            if (argument == L"--out" && i + 1 < argc) {
                out = argv[++i];
            } else if (argument == L"--machine" && i + 1 < argc) {
                machine = Utf8(argv[++i]);
            } else if (argument == L"--build" && i + 1 < argc) {
                build = Utf8(argv[++i]);
            } else if (argument == L"--quick") {
                plan = Plan{5, 3, 3, 5};
            } else {
                files.push_back(argument);
            }
        }
        if (out.empty()) {
            throw std::runtime_error("no --out FILE to write the records to");
        }
        // Which build was timed is read from the program files themselves, not taken on trust.
        const std::string builtFor = BuiltFor(BinDir() + L"\\Tolvakey.exe");
        if (build.empty()) {
            build = builtFor + ", " + Utf8(LastParts(BinDir(), 3));
        } else if (build.compare(0, builtFor.size(), builtFor) != 0) {
            throw std::runtime_error("the programs here are " + builtFor + ", not " + build);
        }
        Recorder recorder(out, machine, build);
        const char* terminal = std::getenv("TOLVANEX_BENCH_TERMINAL");
        Progress progress(PlannedWeight(plan), terminal != nullptr && *terminal == '1');
        // Leftovers of an interrupted run would count as a running Tolvanex.
        EndProgramsUnder(TempRoot());
        if (CountNamed(ProcessNames(), L"Tolvanex.exe") > 0) {
            throw std::runtime_error("a Tolvanex.exe is running already");
        }
        ColdKeyPresses(recorder, progress, plan);
        RunningKeyPresses(recorder, progress, plan);
        SetupRuns(recorder, progress, plan);
        FileSizes(recorder, files);
        progress.Finish();
    } catch (const std::exception& error) {
        std::fprintf(stderr, "\nbench: %s\n", error.what());
        return 1;
    }
    return 0;
}
