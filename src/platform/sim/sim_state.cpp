// The simulated machine's shared state: the lock, Reset, the problem list, failure injection,
// thread identity and last error, code pages, the command line, the error mode and process end.
#include "sim_internal.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>

namespace sim {
namespace detail {

namespace {
thread_local DWORD tThreadId = 0;
thread_local DWORD tLastError = 0;
std::atomic<DWORD> gNextThreadId{1000};
std::atomic<uintptr_t> gNextHandle{0x1000};
} // namespace

// Never destroyed: detached bookkeeping may still be touched while the host process ends.
std::mutex &Mutex() {
    static std::mutex *mutex = new std::mutex;
    return *mutex;
}

std::condition_variable &Changed() {
    static std::condition_variable *changed = new std::condition_variable;
    return *changed;
}

State &St() {
    static State *state = new State;
    return *state;
}

const char *KindName(Kind kind) {
    switch (kind) {
    case Kind::Event:
        return "event";
    case Kind::Mutex:
        return "mutex";
    case Kind::Thread:
        return "thread";
    case Kind::File:
        return "file";
    case Kind::Find:
        return "search";
    }
    return "?";
}

void AddProblem(const std::string &text) {
    St().problems.push_back(text);
}

bool ShouldFail(Api api) {
    int index = static_cast<int>(api);
    int call = ++St().calls[index];
    FailPlan &plan = St().plans[index];
    if (!plan.active || call < plan.firstFailingCall)
        return false;
    if (!plan.persistent)
        plan.active = false;
    return true;
}

std::string Upper(const std::string &text) {
    std::string out = text;
    for (char &c : out)
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    return out;
}

// NOLINTNEXTLINE(bugprone-easily-swappable-parameters): IsDBCSLeadByteEx's order
bool LeadByte(UINT codePage, unsigned char c) {
    switch (codePage) {
    case 932: // Shift-JIS
        return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC);
    case 936: // the other double-byte code pages share one lead-byte range
    case 949:
    case 950:
        return c >= 0x81 && c <= 0xFE;
    default:
        return false;
    }
}

// Handles step by 4 as on Windows and are never reused, so a stale handle from an earlier
// test or an earlier close is always recognised as invalid.
uintptr_t NewHandleValue() {
    return gNextHandle.fetch_add(4);
}

DWORD NewThreadId() {
    return gNextThreadId.fetch_add(4);
}

void AdoptThreadId(DWORD id) {
    tThreadId = id;
}

std::string HandleText(const void *handle) {
    char text[32];
    (void)std::snprintf(text, sizeof text, "%p", handle); // 32 bytes hold any pointer
    return text;
}

} // namespace detail

using namespace detail;

void Reset() {
    std::vector<std::thread> threads;
    {
        Guard lock(Mutex());
        St().resetting = true; // from here every blocking call fails at once
        St().generation++;
        CancelAllSentMessages();
        threads.swap(St().threads);
        St().threadObjects.clear();
        Changed().notify_all();
    }
    for (std::thread &thread : threads)
        if (thread.joinable())
            thread.join();
    {
        Guard lock(Mutex());
        for (auto &entry : St().blocks)
            delete[] entry.second.data;
        unsigned generation = St().generation;
        St() = State();
        St().generation = generation;
        Changed().notify_all();
    }
    SetLastError(0);
}

const std::vector<std::string> &Problems() {
    return Snapshot<&State::problems>();
}

void FailCall(Api api, int nth, bool persistent) {
    Guard lock(Mutex());
    if (nth < 1) {
        AddProblem("FailCall with a call number below 1");
        return;
    }
    int index = static_cast<int>(api);
    St().plans[index] = FailPlan{true, St().calls[index] + nth, persistent};
}

int Calls(Api api) {
    Guard lock(Mutex());
    return St().calls[static_cast<int>(api)];
}

// NOLINTNEXTLINE(bugprone-easily-swappable-parameters): OEM page first, as Win32 lists them
void SetCodePages(UINT oem, UINT ansi) {
    Guard lock(Mutex());
    St().oemCodePage = oem;
    St().ansiCodePage = ansi;
}

void SetCommandLine(const std::string &line) {
    Guard lock(Mutex());
    St().commandLine = line;
}

UINT ErrorMode() {
    Guard lock(Mutex());
    return St().errorMode;
}

int CriticalErrorDialogs() {
    Guard lock(Mutex());
    return St().criticalErrorDialogs;
}

int ExitCode() {
    Guard lock(Mutex());
    return St().exitCode;
}

void OnExitProcess(std::function<void(UINT)> handler) {
    Guard lock(Mutex());
    St().exitHandler = std::move(handler);
}

} // namespace sim

using namespace sim::detail;

extern "C" {

DWORD WINAPI GetLastError(void) {
    return tLastError;
}

void WINAPI SetLastError(DWORD error) {
    tLastError = error;
}

DWORD WINAPI GetCurrentThreadId(void) {
    if (tThreadId == 0)
        tThreadId = NewThreadId();
    return tThreadId;
}

LPSTR WINAPI GetCommandLineA(void) {
    Guard lock(Mutex());
    return &St().commandLine[0]; // stays put until the next SetCommandLine or Reset
}

UINT WINAPI GetOEMCP(void) {
    Guard lock(Mutex());
    return St().oemCodePage;
}

UINT WINAPI GetACP(void) {
    Guard lock(Mutex());
    return St().ansiCodePage;
}

BOOL WINAPI IsDBCSLeadByte(BYTE testChar) {
    return LeadByte(GetACP(), testChar) ? TRUE : FALSE;
}

UINT WINAPI SetErrorMode(UINT mode) {
    Guard lock(Mutex());
    UINT previous = St().errorMode;
    St().errorMode = mode;
    return previous;
}

void WINAPI ExitProcess(UINT exitCode) {
    std::function<void(UINT)> handler;
    {
        Guard lock(Mutex());
        St().exitCode = static_cast<int>(exitCode);
        handler = St().exitHandler;
    }
    if (!handler)
        std::_Exit(static_cast<int>(exitCode));
    handler(exitCode);
}

} // extern "C"
