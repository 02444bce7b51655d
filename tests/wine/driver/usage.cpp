// The usage command: what another process's window costs it. Reads the process's private bytes,
// working set and processor time, optionally sends its window a message many times (answered
// without boxes, as a consenting WM_QUERYENDSESSION is), waits, and reads them again.
#include "commands.h"

#include <psapi.h>

namespace {

struct Usage {
    bool ok;
    // The commit charge, which is the process's private memory. Wine gives it from the
    // process's anonymous memory and, for another process, leaves PrivateUsage at 0.
    SIZE_T privateBytes;
    SIZE_T workingSet;
    ULONGLONG cpu100ns; // kernel and user time together
};

ULONGLONG Ticks(const FILETIME &time) {
    return ((ULONGLONG)time.dwHighDateTime << 32) | time.dwLowDateTime;
}

Usage ReadUsage(HANDLE process) {
    Usage usage = {};
    PROCESS_MEMORY_COUNTERS memory = {};
    memory.cb = sizeof(memory);
    FILETIME created, ended, kernel, user;
    usage.ok = GetProcessMemoryInfo(process, &memory, sizeof(memory)) &&
               GetProcessTimes(process, &created, &ended, &kernel, &user);
    usage.privateBytes = memory.PagefileUsage;
    usage.workingSet = memory.WorkingSetSize;
    usage.cpu100ns = Ticks(kernel) + Ticks(user);
    return usage;
}

void SetUsage(Report &report, const std::string &prefix, const Usage &usage) {
    report.Set(prefix + "ok", usage.ok ? 1 : 0);
    report.Set(prefix + "private", (long long)usage.privateBytes);
    report.Set(prefix + "workingset", (long long)usage.workingSet);
    report.Set(prefix + "cpu.us", (long long)(usage.cpu100ns / 10));
}

} // namespace

// usage <out> <class> <title> <waitMs> [<msg> <wParam> <lParam> <count>]: the sends come
// first, one after the other, each waited for up to 5 s; then the wait.
int UsageCommand(int argc, wchar_t **argv, Report &report) {
    if (argc != 6 && argc != 10) {
        return 2;
    }
    DWORD pid;
    HWND window = FindTargetWindow(argv[3], argv[4], report, &pid);
    if (!window) {
        return 0;
    }
    HANDLE process = OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, pid);
    if (!process) {
        report.Set("opened", 0);
        return 0;
    }
    SetUsage(report, "before.", ReadUsage(process));
    long long count = argc == 10 ? Number(argv[9]) : 0;
    long long answered = 0, answeredOne = 0;
    long long sendStart = ElapsedMs();
    for (long long i = 0; i < count; i++) {
        DWORD_PTR answer = 0;
        if (SendMessageTimeoutW(window, (UINT)Number(argv[6]), (WPARAM)Number(argv[7]),
                                (LPARAM)Number(argv[8]), SMTO_NORMAL, 5000, &answer)) {
            answered++;
            answeredOne += answer == 1 ? 1 : 0;
        }
    }
    report.Set("sent", count);
    report.Set("answered", answered);
    report.Set("answered.1", answeredOne);
    report.Set("sends.ms", ElapsedMs() - sendStart);
    Sleep((DWORD)Number(argv[5]));
    SetUsage(report, "after.", ReadUsage(process));
    CloseHandle(process);
    return 0;
}
