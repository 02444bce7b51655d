// Starting programs: run (start, answer the boxes, wait for the end) and start (leave running).
#include "boxes.h"
#include "commands.h"

#include <vector>

namespace {

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
    bool limited = false; // with the user's ordinary token instead of the driver's elevated one
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
        } else if (a == L"--limited") {
            launch.limited = true;
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
    // Wine gives every process an administrator's elevated token, with the ordinary one linked
    // to it, as UAC does; a limited launch runs as the user that token stands for.
    HANDLE token = NULL;
    HANDLE linked = NULL;
    DWORD size = 0;
    if (launch.limited &&
        (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token) ||
         !GetTokenInformation(token, TokenLinkedToken, &linked, sizeof linked, &size))) {
        report.Set("launch", "failed:no ordinary token");
        return false;
    }
    const wchar_t *app = launch.app.empty() ? NULL : launch.app.c_str();
    const wchar_t *cwd = launch.cwd.empty() ? NULL : launch.cwd.c_str();
    BOOL ok = linked ? CreateProcessAsUserW(linked, app, line.data(), NULL, NULL, TRUE, 0, NULL,
                                            cwd, &si, &pi)
                     : CreateProcessW(app, line.data(), NULL, NULL, TRUE, 0, NULL, cwd, &si, &pi);
    DWORD error = GetLastError();
    if (token) {
        CloseHandle(token);
    }
    if (linked) {
        CloseHandle(linked);
    }
    CloseHandle(nul);
    if (!ok) {
        report.Set("launch", "failed:" + std::to_string(error));
        return false;
    }
    report.Set("launch", "ok");
    report.Set("launch.ms", ElapsedMs());
    report.Set("pid", (long long)pi.dwProcessId);
    return true;
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

struct OwnedWindow {
    DWORD pid;
    bool found;
};

// A top-level window of the process other than the input method's default one (class "IME"),
// which the system may create beside the program's first window.
BOOL CALLBACK FindOwnedWindow(HWND window, LPARAM param) {
    OwnedWindow *state = (OwnedWindow *)param;
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    wchar_t className[16];
    if (pid == state->pid &&
        !(GetClassNameW(window, className, 16) && lstrcmpiW(className, L"IME") == 0)) {
        state->found = true;
        return FALSE;
    }
    return TRUE;
}

// Waits up to waitMs for the running process to own a top-level window (visible or not).
// Under Wine a program's first window needs the desktop process, which Wine ends about a second
// after the last program with a window has gone: the program then starts it afresh and waits
// for it with WaitForInputIdle, whose wait on the program's own message queue marks the program
// itself idle before its window exists (seen to come up to 4.8 s later on a loaded machine).
bool WaitForOwnWindow(const PROCESS_INFORMATION &pi, long long waitMs) {
    long long deadline = ElapsedMs() + waitMs;
    for (;;) {
        OwnedWindow state = {pi.dwProcessId, false};
        EnumWindows(FindOwnedWindow, (LPARAM)&state);
        if (state.found) {
            return true;
        }
        if (ElapsedMs() >= deadline || WaitForSingleObject(pi.hProcess, kPollMs) == WAIT_OBJECT_0) {
            return false;
        }
    }
}

} // namespace

int RunCommand(int argc, wchar_t **argv, Report &report) {
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
    bool watchedEnded = false;
    for (;;) {
        // Before the boxes: a box that says the watched process has ended must come after it.
        if (watched && !watchedEnded && WaitForSingleObject(watched, 0) == WAIT_OBJECT_0) {
            watchedEnded = true;
            report.Set("watched.exit.ms", ElapsedMs());
        }
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

int StartCommand(int argc, wchar_t **argv, Report &report) {
    Launch launch;
    if (argc < 4 || !ParseLaunch(argc, argv, 4, launch)) {
        return 2;
    }
    PROCESS_INFORMATION pi;
    if (StartProcess(launch, report, pi)) {
        DWORD idle = WaitForInputIdle(pi.hProcess, (DWORD)Number(argv[3]));
        report.Set("idle", idle == 0 ? "ok" : idle == WAIT_TIMEOUT ? "timeout" : "failed");
        // Idle is not yet "its window exists" (see WaitForOwnWindow): the steps after a start
        // look its window up at once.
        if (idle == 0) {
            report.Set("window", WaitForOwnWindow(pi, Number(argv[3])) ? 1 : 0);
            report.Set("window.ms", ElapsedMs());
        }
        SetExit(report, "exit", pi.hProcess);
    }
    return 0;
}
