// Talking to windows that exist: send, post, boxes, find, wait-gone and kill.
#include "boxes.h"
#include "commands.h"

#include <tlhelp32.h>

#include <set>

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
    long long sentMs; // when the message went out, for the time to its first box or answer
};

DWORD WINAPI SendThread(LPVOID param) {
    Delivery *d = (Delivery *)param;
    d->sentMs = ElapsedMs();
    d->ok = SendMessageTimeoutW(d->window, d->message, d->wParam, d->lParam, SMTO_NORMAL,
                                d->timeoutMs, &d->answer) != 0;
    d->answerMs = ElapsedMs();
    InterlockedExchange(&d->done, 1);
    return 0;
}

// Answers boxes until the delivery is answered (without one: until a box has been seen), no box
// is open and nothing has happened for settleMs, or until the deadline.
void AwaitQuiet(BoxWatcher &watcher, const Delivery *d, long long deadline, long long settleMs,
                Report &report) {
    for (;;) {
        watcher.Poll(report);
        long long now = ElapsedMs();
        bool ready = d ? d->done != 0 : watcher.Count() > 0;
        long long last = watcher.LastActivityMs();
        if (d && d->answerMs > last) {
            last = d->answerMs;
        }
        if (ready && !watcher.AnyOpen() && now - last >= settleMs) {
            break;
        }
        if (now >= deadline) {
            report.Set("timeout", 1);
            break;
        }
        Sleep(kPollMs);
    }
    report.Set("boxes", watcher.Count());
}

void ReportAnswer(const Delivery &d, Report &report) {
    report.Set("answer", !d.done ? "pending" : d.ok ? std::to_string(d.answer) : "failed");
    report.Set("answer.ms", d.answerMs);
    report.Set("sent.ms", d.sentMs);
}

// Polls the boxes (held ones stay on screen) for ms milliseconds, or until one has been seen.
void PollFor(BoxWatcher &watcher, long long ms, bool untilFirstBox, Report &report) {
    long long end = ElapsedMs() + ms;
    while (ElapsedMs() < end && !(untilFirstBox && watcher.Count() > 0)) {
        watcher.Poll(report);
        Sleep(kPollMs);
    }
}

// The further messages of a burst: each is sent on its own and may take up to this long.
const DWORD kBurstSendTimeoutMs = 2000;

// Sends the message count times more, one after another, polling the boxes between sends;
// records how many were answered and the distinct answers.
void SendRepeatedly(const Delivery &like, int count, BoxWatcher &watcher, Report &report) {
    std::set<std::string> answers;
    int answered = 0;
    for (int i = 0; i < count; i++) {
        DWORD_PTR answer = 0;
        if (SendMessageTimeoutW(like.window, like.message, like.wParam, like.lParam, SMTO_NORMAL,
                                kBurstSendTimeoutMs, &answer)) {
            answered++;
            answers.insert(std::to_string(answer));
        }
        watcher.Poll(report);
    }
    std::string list;
    for (const std::string &answer : answers) {
        list += (list.empty() ? "" : ",") + answer;
    }
    report.Set("more.sent", count);
    report.Set("more.answered", answered);
    report.Set("more.answers", list);
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

// The follow-up is posted, or with "send" sent and its answer recorded: the boxes are held, so
// only the box's own loop can answer it.
static void DeliverFollowUp(HWND window, wchar_t **message, bool send, UINT timeoutMs,
                            Report &report) {
    UINT id = (UINT)Number(message[0]);
    WPARAM wParam = (WPARAM)Number(message[1]);
    LPARAM lParam = (LPARAM)Number(message[2]);
    if (!send) {
        report.Set("then.posted", PostMessageW(window, id, wParam, lParam) ? 1 : 0);
        return;
    }
    DWORD_PTR answer = 0;
    BOOL sent = SendMessageTimeoutW(window, id, wParam, lParam, SMTO_NORMAL, timeoutMs, &answer);
    report.Set("then.sent", sent ? 1 : 0);
    report.Set("then.answer", (int)answer);
}

// send and post: the message goes to the window while its process's boxes are answered; the
// command ends once the answer is in, no box is open and none has appeared for settleMs. A send
// with a follow-up holds the boxes: once the first is shown the follow-up is posted, and after
// settleMs the boxes still open are counted and then answered.
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
    bool followUp = send && argc > 14;
    BoxWatcher watcher(pid, ParsePressList(Narrow(argv[9])), followUp);
    Delivery d = {window,
                  (UINT)Number(argv[5]),
                  (WPARAM)Number(argv[6]),
                  (LPARAM)Number(argv[7]),
                  (DWORD)timeoutMs,
                  0,
                  0,
                  FALSE,
                  0,
                  0};
    if (send) {
        CloseHandle(CreateThread(NULL, 0, SendThread, &d, 0, NULL));
        if (followUp) {
            PollFor(watcher, timeoutMs, true, report);
            DeliverFollowUp(window, argv + 12, argc > 15 && lstrcmpiW(argv[15], L"send") == 0,
                            (UINT)timeoutMs, report);
            PollFor(watcher, settleMs, false, report);
            report.Set("then.open", watcher.OpenCount());
            watcher.Release(report);
        }
    } else {
        d.ok = PostMessageW(window, d.message, d.wParam, d.lParam);
        d.answerMs = ElapsedMs();
        d.done = 1;
    }
    AwaitQuiet(watcher, &d, ElapsedMs() + timeoutMs, settleMs, report);
    if (send) {
        ReportAnswer(d, report);
    } else {
        report.Set("posted", d.ok ? 1 : 0);
    }
    if (process) {
        WaitForSingleObject(process, (DWORD)exitWaitMs);
        SetExit(report, "exit", process);
    }
    return 0;
}

// burst: the first message goes out on a thread of its own (a question box may hold it up);
// once the window's process shows a box, count-1 more follow one by one while every box is held
// on screen, so that "held" counts the boxes that were open at once. Then the held boxes are
// answered and the command ends as send does.
int BurstCommand(int argc, wchar_t **argv, Report &report) {
    if (argc < 9) {
        return 2;
    }
    int count = (int)Number(argv[6]);
    long long timeoutMs = Number(argv[7]);
    long long settleMs = argc > 9 ? Number(argv[9]) : 500;
    HWND window = WaitForWindow(argv[3], argv[4], 2000);
    report.Set("found", window ? 1 : 0);
    if (!window || count < 1) {
        return 0;
    }
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    BoxWatcher watcher(pid, ParsePressList(Narrow(argv[8])), true);
    Delivery d = {window, (UINT)Number(argv[5]), 0, 0, (DWORD)timeoutMs, 0, 0, FALSE, 0, 0};
    long long deadline = ElapsedMs() + timeoutMs;
    CloseHandle(CreateThread(NULL, 0, SendThread, &d, 0, NULL));
    PollFor(watcher, timeoutMs, true, report);
    SendRepeatedly(d, count - 1, watcher, report);
    PollFor(watcher, settleMs, false, report); // a posted box appears after its answer
    report.Set("held", watcher.Count());
    report.Set("held.open", watcher.OpenCount());
    watcher.Release(report);
    AwaitQuiet(watcher, &d, deadline + count * (long long)kBurstSendTimeoutMs, settleMs, report);
    ReportAnswer(d, report);
    return 0;
}

int BoxesCommand(int argc, wchar_t **argv, Report &report) {
    if (argc < 5) {
        return 2;
    }
    long long deadline = ElapsedMs() + Number(argv[3]);
    long long settleMs = argc > 5 ? Number(argv[5]) : 500;
    BoxWatcher watcher(0, ParsePressList(Narrow(argv[4])));
    AwaitQuiet(watcher, NULL, deadline, settleMs, report);
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
        report.Set("path", ProcessPath(pid));
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
