// swdriver: the Windows side of the Wine test bench. Starts programs, reads and answers their
// message boxes, finds windows and sends them messages, and writes what it saw as key=value lines
// (UTF-8) to a result file for the runner to compare. Usage: see kUsage below.
#include "boxes.h"
#include "report.h"

#include <tlhelp32.h>

#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

namespace {

const char kUsage[] =
    "usage:\n"
    "  swdriver run <out> <timeoutMs> <press> [--app <exe>] [--cwd <dir>]\n"
    "           [--watch <class> <title> <waitMs>] (-- <command line> | --cmdfile <file>)\n"
    "      start the command line, read and answer its boxes, record its exit code;\n"
    "      --watch: a window whose process is followed, and waited for up to waitMs after the run\n"
    "  start <out> <timeoutMs> [--app <exe>] [--cwd <dir>] (-- <line> | --cmdfile <file>)\n"
    "      start it without waiting for its end (until it waits for input, at most timeoutMs)\n"
    "  send|post <out> <class> <title> <msg> <wParam> <lParam> <timeoutMs> <press> [settleMs]\n"
    "           [exitWaitMs]\n"
    "      deliver a message to a top-level window, answer the boxes its process shows meanwhile,\n"
    "      then wait up to exitWaitMs for that process to end\n"
    "  boxes <out> <timeoutMs> <press> [settleMs]\n"
    "      read and answer the boxes of any other process\n"
    "  find <out> <class> <title> [waitMs]\n"
    "  wait-gone <out> <class> <title> <timeoutMs>\n"
    "  kill <out> <exe name>\n"
    "<press>: comma-separated buttons for the boxes in order (ok, yes, no, cancel), or none.\n"
    "Numbers may be decimal or 0x-prefixed hexadecimal. A --cmdfile holds the command line in\n"
    "UTF-8 (the host's argument conversion cannot be trusted with text outside ASCII).\n";

const DWORD kPollMs = 10;

std::string Narrow(const wchar_t *text) {
    return Report::Utf8(text);
}

long long Number(const wchar_t *text) {
    return (long long)wcstoll(text, NULL, 0);
}

// Reads a whole UTF-8 file (without byte order mark) as wide text.
bool ReadUtf8File(const wchar_t *path, std::wstring &text) {
    HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
    if (file == INVALID_HANDLE_VALUE) {
        return false;
    }
    std::string bytes(GetFileSize(file, NULL), '\0');
    DWORD got = 0;
    BOOL ok = bytes.empty() || ReadFile(file, &bytes[0], (DWORD)bytes.size(), &got, NULL);
    CloseHandle(file);
    if (!ok || got != bytes.size()) {
        return false;
    }
    int n = MultiByteToWideChar(CP_UTF8, 0, bytes.data(), (int)bytes.size(), NULL, 0);
    text.assign(n, L'\0');
    if (n > 0) {
        MultiByteToWideChar(CP_UTF8, 0, bytes.data(), (int)bytes.size(), &text[0], n);
    }
    return true;
}

struct Launch {
    std::wstring app, cwd, commandLine;
    std::wstring watchClass, watchTitle;
    long long watchWaitMs = -1;
};

// Parses "[--app X] [--cwd X] [--watch C T N] -- <command line>" from argv[i].
bool ParseLaunch(int argc, wchar_t **argv, int i, Launch &launch) {
    for (; i < argc; i++) {
        std::wstring a = argv[i];
        if (a == L"--" && i + 2 == argc) {
            launch.commandLine = argv[i + 1];
            return true;
        } else if (a == L"--cmdfile" && i + 2 == argc) {
            return ReadUtf8File(argv[i + 1], launch.commandLine);
        } else if (a == L"--app" && i + 1 < argc) {
            launch.app = argv[++i];
        } else if (a == L"--cwd" && i + 1 < argc) {
            launch.cwd = argv[++i];
        } else if (a == L"--watch" && i + 3 < argc) {
            launch.watchClass = argv[++i];
            launch.watchTitle = argv[++i];
            launch.watchWaitMs = Number(argv[++i]);
        } else {
            return false;
        }
    }
    return false;
}

// Starts the command line with NUL as its standard handles, so that a program that stays
// resident holds nothing of the runner's open.
bool StartProcess(const Launch &launch, Report &report, PROCESS_INFORMATION &pi) {
    report.Set("cmdline", launch.commandLine);
    SECURITY_ATTRIBUTES inherit = {sizeof(inherit), NULL, TRUE};
    HANDLE nul = CreateFileW(L"NUL", GENERIC_READ | GENERIC_WRITE,
                             FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit, OPEN_EXISTING, 0, NULL);
    STARTUPINFOW si = {};
    si.cb = sizeof(si);
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdInput = si.hStdOutput = si.hStdError = nul;
    std::vector<wchar_t> line(launch.commandLine.begin(), launch.commandLine.end());
    line.push_back(0);
    BOOL ok =
        CreateProcessW(launch.app.empty() ? NULL : launch.app.c_str(), line.data(), NULL, NULL,
                       TRUE, 0, NULL, launch.cwd.empty() ? NULL : launch.cwd.c_str(), &si, &pi);
    DWORD error = GetLastError();
    CloseHandle(nul);
    if (!ok) {
        report.Set("launch", "failed:" + std::to_string(error));
        return false;
    }
    report.Set("launch", "ok");
    report.Set("pid", (long long)pi.dwProcessId);
    return true;
}

void SetExit(Report &report, const std::string &key, HANDLE process) {
    DWORD code = 0;
    GetExitCodeProcess(process, &code);
    if (code == STILL_ACTIVE) {
        report.Set(key, "running");
    } else {
        char hex[16];
        wsprintfA(hex, code > 0xFFFF ? "0x%08lX" : "%lu", code);
        report.Set(key, hex);
    }
}

HANDLE OpenWatched(const Launch &launch, Report &report) {
    if (launch.watchWaitMs < 0) {
        return NULL;
    }
    HWND window = FindWindowW(launch.watchClass.c_str(), launch.watchTitle.c_str());
    DWORD pid = 0;
    if (window) {
        GetWindowThreadProcessId(window, &pid);
    }
    HANDLE process = pid ? OpenProcess(SYNCHRONIZE | PROCESS_QUERY_INFORMATION, FALSE, pid) : NULL;
    report.Set("watched.found", process ? 1 : 0);
    return process;
}

int Run(int argc, wchar_t **argv, Report &report) {
    if (argc < 5) {
        return 2;
    }
    long long timeoutMs = Number(argv[3]);
    Launch launch;
    if (!ParseLaunch(argc, argv, 5, launch)) {
        return 2;
    }
    HANDLE watched = OpenWatched(launch, report);
    PROCESS_INFORMATION pi;
    if (!StartProcess(launch, report, pi)) {
        return 0;
    }
    BoxWatcher watcher(pi.dwProcessId, ParsePressList(Narrow(argv[4])));
    long long deadline = ElapsedMs() + timeoutMs;
    for (;;) {
        watcher.Poll(report);
        if (WaitForSingleObject(pi.hProcess, kPollMs) == WAIT_OBJECT_0) {
            break;
        }
        if (ElapsedMs() >= deadline) {
            report.Set("timeout", 1);
            TerminateProcess(pi.hProcess, 0xDEAD);
            WaitForSingleObject(pi.hProcess, 2000);
            break;
        }
    }
    report.Set("boxes", watcher.Count());
    SetExit(report, "exit", pi.hProcess);
    report.Set("exit.ms", ElapsedMs());
    if (watched) {
        WaitForSingleObject(watched, (DWORD)launch.watchWaitMs);
        SetExit(report, "watched.exit", watched);
    }
    return 0;
}

int Start(int argc, wchar_t **argv, Report &report) {
    Launch launch;
    if (argc < 4 || !ParseLaunch(argc, argv, 4, launch)) {
        return 2;
    }
    PROCESS_INFORMATION pi;
    if (StartProcess(launch, report, pi)) {
        DWORD idle = WaitForInputIdle(pi.hProcess, (DWORD)Number(argv[3]));
        report.Set("idle", idle == 0 ? "ok" : idle == WAIT_TIMEOUT ? "timeout" : "failed");
        SetExit(report, "exit", pi.hProcess);
    }
    return 0;
}

HWND WaitForWindow(const wchar_t *className, const wchar_t *title, long long waitMs) {
    long long deadline = ElapsedMs() + waitMs;
    for (;;) {
        HWND window = FindWindowW(className, title);
        if (window || ElapsedMs() >= deadline) {
            return window;
        }
        Sleep(kPollMs);
    }
}

struct Delivery {
    HWND window;
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
    DWORD timeoutMs;
    volatile LONG done;
    DWORD_PTR answer;
    BOOL ok;
    long long answerMs;
};

DWORD WINAPI SendThread(LPVOID param) {
    Delivery *d = (Delivery *)param;
    d->ok = SendMessageTimeoutW(d->window, d->message, d->wParam, d->lParam, SMTO_NORMAL,
                                d->timeoutMs, &d->answer) != 0;
    d->answerMs = ElapsedMs();
    InterlockedExchange(&d->done, 1);
    return 0;
}

// send and post: the message goes to the window while its process's boxes are answered; the
// command ends once the answer is in, no box is open and none has appeared for settleMs.
int Deliver(int argc, wchar_t **argv, Report &report, bool send) {
    if (argc < 10) {
        return 2;
    }
    long long timeoutMs = Number(argv[8]);
    long long settleMs = argc > 10 ? Number(argv[10]) : 500;
    long long exitWaitMs = argc > 11 ? Number(argv[11]) : 0;
    HWND window = WaitForWindow(argv[3], argv[4], 2000);
    report.Set("found", window ? 1 : 0);
    if (!window) {
        return 0;
    }
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    HANDLE process = OpenProcess(SYNCHRONIZE | PROCESS_QUERY_INFORMATION, FALSE, pid);
    BoxWatcher watcher(pid, ParsePressList(Narrow(argv[9])));
    Delivery d = {window,
                  (UINT)Number(argv[5]),
                  (WPARAM)Number(argv[6]),
                  (LPARAM)Number(argv[7]),
                  (DWORD)timeoutMs,
                  0,
                  0,
                  FALSE,
                  0};
    if (send) {
        CloseHandle(CreateThread(NULL, 0, SendThread, &d, 0, NULL));
    } else {
        d.ok = PostMessageW(window, d.message, d.wParam, d.lParam);
        d.answerMs = ElapsedMs();
        d.done = 1;
    }
    long long deadline = ElapsedMs() + timeoutMs;
    for (;;) {
        watcher.Poll(report);
        long long now = ElapsedMs();
        if (d.done && !watcher.AnyOpen()) {
            long long last =
                d.answerMs > watcher.LastActivityMs() ? d.answerMs : watcher.LastActivityMs();
            if (now - last >= settleMs) {
                break;
            }
        }
        if (now >= deadline) {
            report.Set("timeout", 1);
            break;
        }
        Sleep(kPollMs);
    }
    report.Set("boxes", watcher.Count());
    if (send) {
        report.Set("answer", !d.done ? "pending" : d.ok ? std::to_string(d.answer) : "failed");
        report.Set("answer.ms", d.answerMs);
    } else {
        report.Set("posted", d.ok ? 1 : 0);
    }
    if (process) {
        WaitForSingleObject(process, (DWORD)exitWaitMs);
        SetExit(report, "exit", process);
    }
    return 0;
}

int Boxes(int argc, wchar_t **argv, Report &report) {
    if (argc < 5) {
        return 2;
    }
    long long deadline = ElapsedMs() + Number(argv[3]);
    long long settleMs = argc > 5 ? Number(argv[5]) : 500;
    BoxWatcher watcher(0, ParsePressList(Narrow(argv[4])));
    for (;;) {
        watcher.Poll(report);
        long long now = ElapsedMs();
        if (watcher.Count() > 0 && !watcher.AnyOpen() &&
            now - watcher.LastActivityMs() >= settleMs) {
            break;
        }
        if (now >= deadline) {
            report.Set("timeout", 1);
            break;
        }
        Sleep(kPollMs);
    }
    report.Set("boxes", watcher.Count());
    return 0;
}

struct CountState {
    const wchar_t *className;
    int count;
};

BOOL CALLBACK CountClass(HWND window, LPARAM param) {
    CountState *state = (CountState *)param;
    wchar_t name[256];
    if (GetClassNameW(window, name, 256) && lstrcmpiW(name, state->className) == 0) {
        state->count++;
    }
    return TRUE;
}

int Find(int argc, wchar_t **argv, Report &report) {
    if (argc < 5) {
        return 2;
    }
    HWND window = WaitForWindow(argv[3], argv[4], argc > 5 ? Number(argv[5]) : 0);
    CountState count = {argv[3], 0};
    EnumWindows(CountClass, (LPARAM)&count);
    report.Set("found", window ? 1 : 0);
    report.Set("count", count.count);
    if (window) {
        char hex[16];
        wsprintfA(hex, "0x%08lX", (DWORD)GetWindowLongW(window, GWL_STYLE));
        report.Set("style", hex);
        wsprintfA(hex, "0x%08lX", (DWORD)GetWindowLongW(window, GWL_EXSTYLE));
        report.Set("exstyle", hex);
        report.Set("visible", IsWindowVisible(window) ? 1 : 0);
        report.Set("parent",
                   GetAncestor(window, GA_PARENT) == GetDesktopWindow() ? "desktop" : "other");
        DWORD pid = 0;
        GetWindowThreadProcessId(window, &pid);
        report.Set("process", ProcessName(pid));
    }
    return 0;
}

// Waits until the window is gone and then until its process has ended, and records its exit code.
int WaitGone(int argc, wchar_t **argv, Report &report) {
    if (argc < 6) {
        return 2;
    }
    long long deadline = ElapsedMs() + Number(argv[5]);
    HWND window = FindWindowW(argv[3], argv[4]);
    DWORD pid = 0;
    if (window) {
        GetWindowThreadProcessId(window, &pid);
    }
    HANDLE process = pid ? OpenProcess(SYNCHRONIZE | PROCESS_QUERY_INFORMATION, FALSE, pid) : NULL;
    while (FindWindowW(argv[3], argv[4]) && ElapsedMs() < deadline) {
        Sleep(kPollMs);
    }
    report.Set("gone", FindWindowW(argv[3], argv[4]) ? 0 : 1);
    report.Set("gone.ms", ElapsedMs());
    if (process) {
        long long left = deadline - ElapsedMs();
        WaitForSingleObject(process, left > 0 ? (DWORD)left : 0);
        SetExit(report, "exit", process);
    }
    return 0;
}

// Ends every process of that executable name: the bench's last resort between scenarios.
int Kill(int argc, wchar_t **argv, Report &report) {
    if (argc < 4) {
        return 2;
    }
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    PROCESSENTRY32W entry;
    entry.dwSize = sizeof(entry);
    int killed = 0;
    for (BOOL ok = Process32FirstW(snapshot, &entry); ok; ok = Process32NextW(snapshot, &entry)) {
        if (lstrcmpiW(entry.szExeFile, argv[3]) != 0) {
            continue;
        }
        HANDLE process = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, entry.th32ProcessID);
        if (process && TerminateProcess(process, 0xDEAD)) {
            WaitForSingleObject(process, 2000);
            killed++;
        }
        if (process) {
            CloseHandle(process);
        }
    }
    CloseHandle(snapshot);
    report.Set("killed", killed);
    return 0;
}

} // namespace

int wmain(int argc, wchar_t **argv) {
    // Our own handles must not reach the programs we start (see StartProcess).
    SetHandleInformation(GetStdHandle(STD_INPUT_HANDLE), HANDLE_FLAG_INHERIT, 0);
    SetHandleInformation(GetStdHandle(STD_OUTPUT_HANDLE), HANDLE_FLAG_INHERIT, 0);
    SetHandleInformation(GetStdHandle(STD_ERROR_HANDLE), HANDLE_FLAG_INHERIT, 0);
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX);
    if (argc < 3) {
        fputs(kUsage, stderr);
        return 2;
    }
    std::wstring command = argv[1];
    Report report;
    int rc = 2;
    if (command == L"run") {
        rc = Run(argc, argv, report);
    } else if (command == L"start") {
        rc = Start(argc, argv, report);
    } else if (command == L"send" || command == L"post") {
        rc = Deliver(argc, argv, report, command == L"send");
    } else if (command == L"boxes") {
        rc = Boxes(argc, argv, report);
    } else if (command == L"find") {
        rc = Find(argc, argv, report);
    } else if (command == L"wait-gone") {
        rc = WaitGone(argc, argv, report);
    } else if (command == L"kill") {
        rc = Kill(argc, argv, report);
    }
    if (rc == 2) {
        fputs(kUsage, stderr);
        return 2;
    }
    if (!report.Write(argv[2])) {
        fprintf(stderr, "swdriver: cannot write %s\n", Narrow(argv[2]).c_str());
        return 3;
    }
    return 0;
}
