// Shared state of the simulated platform, private to src/platform/sim. One mutex guards all of
// it and one condition variable announces every change, so that each blocking call simply
// re-checks its own condition when woken. Nothing calls back into test or product code (window
// procedures, box hooks, thread routines, the exit handler) while holding the mutex.
#pragma once

#include "sim_control.h"

#include <array>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <type_traits>
#include <vector>

namespace sim {
namespace detail {

constexpr DWORD kErrorNotLocked = 158;
constexpr DWORD kErrorNotOwner = 288;

enum class Kind { Event, Mutex, Thread, File, Find };

const char *KindName(Kind kind);

// A kernel object; held by shared_ptr so that a thread still waiting on it keeps it alive
// after its last handle is closed.
struct Object {
    Kind kind;
    std::string name; // empty for an unnamed object
    int handles = 0;  // open handles referring to it
    bool manualReset = false;
    bool signalled = false; // event state; for a thread: it has ended
    DWORD owner = 0;        // mutex owner thread, 0 when free
    int recursion = 0;
    DWORD exitCode = 0; // thread
    std::string bytes;  // file contents
    size_t position = 0;
    int device = -1;       // a file handle opened as "\\.\X:": the drive's index
    bool elevated = false; // held by a process with other rights: no access for this one
    int unseenOpens = 0;   // OpenEventA calls that do not find it yet
};

struct Block {
    char *data = nullptr; // a heap allocation of its own, so ASan sees overruns
    size_t size = 0;
    bool moveable = false;
    bool freed = false;
    int locks = 0;
};

struct Drive {
    bool exists = false;
    UINT type = DRIVE_UNKNOWN;
    Medium medium = Medium::None;
    DWORD failCode = 0;
    int typeQueries = 0;
    int probes = 0;
    Device device;
    int deviceOpens = 0;
    int deviceQueries = 0;
};

struct WindowClass {
    std::string name;
    WNDCLASSA copy;
};

struct Window {
    std::string className;
    std::string title;
    DWORD style = 0;
    DWORD exStyle = 0;
    DWORD ownerThread = 0;
    WNDPROC proc = nullptr;
    bool created = false;    // WM_CREATE was answered
    bool destroying = false; // inside DestroyWindow
    bool gone = false;       // destroyed; the record stays so that stale handles are told apart
    HWND ownerWindow = NULL; // GetWindow(GW_OWNER)
    HWND parent = NULL;      // a child window's parent: a box's buttons
    int controlId = 0;       // a child window's id (GetDlgItem)
    int boxAnswer = 0;       // a message box closed by a button's command: that button's id
};

// A message sent from another thread, waiting for the owner thread to run it.
struct SentMessage {
    HWND window;
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
    LRESULT result = 0;
    bool done = false;
};

struct Queue {
    std::deque<MSG> posted;
    std::deque<std::shared_ptr<SentMessage>> sent;
    bool quit = false;
    int quitCode = 0;
    bool threadEnded = false;
    // A message was posted since the thread last looked at its queue: what wakes a
    // MsgWaitForMultipleObjects that waits for posted messages.
    bool postedUnseen = false;
};

struct FailPlan {
    bool active = false;
    int firstFailingCall = 0; // absolute call number
    bool persistent = false;
};

// Where the simulated clock stands after Reset: 10 s before GetTickCount wraps.
constexpr DWORD kClockStart = 0xFFFFFFFFu - 10000u;

struct State {
    bool resetting = false;
    unsigned generation = 0; // bumped by every Reset; blocked calls that see a change fail
    std::vector<std::string> problems;

    // failure injection
    std::array<int, static_cast<int>(Api::Count)> calls{};
    std::array<FailPlan, static_cast<int>(Api::Count)> plans{};

    // code pages, command line, error mode
    UINT oemCodePage = 437;
    UINT ansiCodePage = 1252;
    std::string commandLine = "SLOTWARD.EXE";
    UINT errorMode = 0;
    int criticalErrorDialogs = 0;

    // kernel objects and memory
    std::map<uintptr_t, std::shared_ptr<Object>> handles;
    std::map<uintptr_t, int> handleProcesses; // the process that holds each open handle
    std::map<uintptr_t, int> waits;           // threads waiting on each handle right now
    std::map<std::string, std::shared_ptr<Object>> names;
    std::map<uintptr_t, Block> blocks; // by block handle (the pointer for fixed blocks)
    std::vector<std::thread> threads;
    std::vector<std::shared_ptr<Object>> threadObjects; // each thread's, in the same order

    // files and drives
    std::map<std::u16string, std::string> files; // by normalised (upper-case) full path
    std::string currentDirectory = "C:\\";
    std::u16string modulePath = u"C:\\SLOTWARD.EXE";
    std::vector<std::string> createFileLog;
    std::vector<std::u16string> createFileWLog;
    std::array<Drive, 26> drives{};
    std::vector<std::string> probePatterns;
    std::vector<std::string> typeQueryRoots;
    std::string windowsDirectory = "C:\\WINDOWS";
    std::function<void(char)> probeHook;

    // message boxes
    std::deque<int> boxScript;
    std::function<int(const Box &)> boxHook;
    std::vector<Box> boxes;

    // windows and queues
    std::map<std::string, WindowClass> classes; // by upper-case name
    ATOM nextAtom = 0xC000;
    std::map<uintptr_t, Window> windows; // by handle; in creation order
    std::map<DWORD, Queue> queues;       // by thread id

    // functions looked up at run time
    System system = System::Windows2000;
    std::vector<std::string> lookUps;
    std::vector<SessionCall> sessionCalls;
    std::vector<std::string> callOrder;
    std::map<uintptr_t, int> icons; // loaded icon handle -> its resource id

    // the clock GetTickCount reads: it moves only when a test advances it or a thread sleeps,
    // and starts just before its 32-bit wrap, so that a wait that forgets the wrap fails
    DWORD clock = kClockStart;
    int clockWaiters = 0;             // threads in a wait whose time-out runs on that clock
    std::map<int, int> systemMetrics; // by SM_* index; 0 when not set

    // process end
    int exitCode = -1;
    std::function<void(UINT)> exitHandler;
};

// The one lock and the one "something changed" signal.
std::mutex &Mutex();
std::condition_variable &Changed();
State &St(); // the caller holds Mutex()

using Guard = std::unique_lock<std::mutex>;

// A log as it stands, copied under the lock into storage of the calling thread (one per log),
// so that a test can read it while program threads are still adding to it.
template <auto Member> const auto &Snapshot() {
    thread_local std::remove_reference_t<decltype(St().*Member)> copy;
    Guard lock(Mutex());
    copy = St().*Member;
    return copy;
}

void AddProblem(const std::string &text);                // lock held
bool ShouldFail(Api api);                                // lock held; counts the call
std::string Upper(const std::string &text);              // ASCII letters only
bool LeadByte(UINT codePage, unsigned char c);           // lock not needed
std::u16string Widen(const std::string &bytes);          // lock held; by the ANSI code page
uintptr_t NewHandleValue();                              // never reused, not even after Reset
DWORD NewThreadId();                                     // for a thread CreateThread starts
void AdoptThreadId(DWORD id);                            // called first on that thread
std::string HandleText(const void *handle);              // "0x1234" for problem texts
std::shared_ptr<Object> FindObject(HANDLE h);            // lock held; null if not open
HANDLE AddHandle(const std::shared_ptr<Object> &object); // lock held
void DropHandle(HANDLE h);             // lock held; forgets the name with the last handle
Window *FindWindowRecord(HWND window); // lock held; destroyed ones too, else null
Window *LiveWindow(HWND window);       // lock held; null unless not destroyed
void ThreadEnded(DWORD threadId);      // lock held; its windows and queue go
void CancelAllSentMessages();          // lock held; their senders get 0
// CreateFileA of "\\.\X:": a handle on drive X's device, or INVALID_HANDLE_VALUE with the
// last error set (`failing`: the call was made to fail); NULL when `path` names no device.
// Lock held.
HANDLE OpenDevice(const std::string &path, DWORD access, DWORD share, DWORD creation, bool failing);
// A wait that began in `generation` must end: the simulation was reset meanwhile. Lock held.
bool Ending(unsigned generation);
// Takes the object for a waiter, as a satisfied wait does (an auto-reset event resets, a mutex
// gets its owner); false while it is not signalled. Lock held.
bool TryAcquire(Object &object, DWORD me);
// Runs one message sent to this thread from another, if any; releases the lock meanwhile.
bool RunOneSentMessage(Guard &lock);
// A message box's own loop for a box left open (kKeepOpen); returns its answer.
int RunBoxLoop(Guard &lock, HWND box, unsigned generation);
// Creates and ends a message box's window with its buttons; lock held.
HWND CreateBoxWindow(HWND owner, const std::string &caption, UINT type);
void EndBoxWindow(HWND box);

} // namespace detail
} // namespace sim
