// Talking to windows that exist: send, post, boxes, find, wait-gone and kill.
#include "boxes.h"
#include "commands.h"

#include <tlhelp32.h>

namespace {

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

} // namespace

HWND FindTargetWindow(const wchar_t *className, const wchar_t *title, Report &report, DWORD *pid) {
    HWND window = WaitForWindow(className, title, 2000);
    report.Set("found", window ? 1 : 0);
    *pid = 0;
    if (window) {
        GetWindowThreadProcessId(window, pid);
    }
    return window;
}

// send and post: the message goes to the window while its process's boxes are answered; the
// command ends once the answer is in, no box is open and none has appeared for settleMs.
int DeliverCommand(int argc, wchar_t **argv, Report &report, bool send) {
    if (argc < 10) {
        return 2;
    }
    long long timeoutMs = Number(argv[8]);
    long long settleMs = argc > 10 ? Number(argv[10]) : 500;
    long long exitWaitMs = argc > 11 ? Number(argv[11]) : 0;
    DWORD pid;
    HWND window = FindTargetWindow(argv[3], argv[4], report, &pid);
    if (!window) {
        return 0;
    }
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

int BoxesCommand(int argc, wchar_t **argv, Report &report) {
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

int FindCommand(int argc, wchar_t **argv, Report &report) {
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
int WaitGoneCommand(int argc, wchar_t **argv, Report &report) {
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
int KillCommand(int argc, wchar_t **argv, Report &report) {
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
