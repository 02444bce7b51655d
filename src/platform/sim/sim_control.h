// The control surface of the simulated platform, for host tests only: set up drives, files,
// code pages and the command line; choose which newer functions the system offers and read the
// calls made to them; script message-box answers and read the box log; inject
// failures; and account for memory blocks and handles so that a test can prove nothing leaked.
// Anything a test did not set up fails loudly: it is recorded in Problems(), which every test
// fixture checks is empty.
#pragma once

#include "sim_win32.h"

#include <functional>
#include <string>
#include <vector>

namespace sim {

// Back to a fresh machine: no drives, code pages 437/1252, no files, no windows, no named
// objects, empty box script and log, no failure injection, error mode 0, command line
// "SLOTWARD.EXE", module path "C:\\SLOTWARD.EXE". Threads the program left waiting (as a watcher
// thread would be when the process ends) are woken with WAIT_FAILED and joined first, as
// ExitProcess would end them.
void Reset();

// Every log below that is returned by reference is a copy taken at the call, kept per thread
// until that thread's next call of the same function, so tests may read logs while program
// threads still run.

// Everything that went wrong without the test asking for it: an unscripted message box, an
// invalid or double-closed handle, a handle closed while another thread waits on it, a double free,
// a lock of a freed block, a window message sent to a missing window from a thread that does not
// own it, and so on.
const std::vector<std::string> &Problems();

// ---- Code pages and command line
// 932 makes IsDBCSLeadByte follow Shift-JIS lead bytes. MultiByteToWideChar knows the ANSI code
// pages 1252 and 932 (the latter through the host's iconv).
void SetCodePages(UINT oem, UINT ansi);
void SetCommandLine(const std::string &line);

// ---- Drives and media
enum class Medium {
    None,           // no medium: FindFirstFileA fails with ERROR_NOT_READY
    Files,          // a medium holding files: FindFirstFileA succeeds
    EmptyFormatted, // an empty formatted medium: FindFirstFileA fails with ERROR_FILE_NOT_FOUND
    Failing,        // FindFirstFileA fails with the given error code
};
// Adds (or replaces) drive `letter` ('A'..'Z', either case) of the given DRIVE_* type.
void AddDrive(char letter, UINT type, Medium medium = Medium::Files, DWORD failCode = 0);
int TypeQueries(char letter); // GetDriveTypeA calls for this drive since Reset
int Probes(char letter);      // FindFirstFileA calls for this drive since Reset
// Pattern strings passed to FindFirstFileA and root strings to GetDriveTypeA, in call order.
const std::vector<std::string> &ProbePatterns();
const std::vector<std::string> &TypeQueryRoots();
UINT ErrorMode(); // the process error mode last set
// Called inside FindFirstFileA on the probing thread with the drive's letter, before the probe
// answers: a survey that takes its time, during which a test can act.
void OnProbe(std::function<void(char)> hook);
// The storage device behind a drive, as it answers CreateFileA of "\\.\X:" and DeviceIoControl
// on that handle. A drive that AddDrive adds (or replaces) sits on an ATA bus, not hot-pluggable,
// on a disk of its own.
struct Device {
    STORAGE_BUS_TYPE bus = BusTypeAta;
    BOOLEAN mediaRemovable = FALSE; // IOCTL_STORAGE_GET_HOTPLUG_INFO's answer
    BOOLEAN deviceHotplug = FALSE;
    DWORD hotplugError = 0;   // that query fails with this code (Wine: ERROR_NOT_SUPPORTED)
    DWORD openError = 0;      // the open fails with this code (Wine's Z: gives ERROR_ACCESS_DENIED)
    DWORD descriptorSize = 0; // the property query answers only this many bytes; 0: all of it
    DWORD reportedSize = 0;   // the descriptor's own Size field; 0: the whole descriptor's length
    // The property query fails with ERROR_MORE_DATA when the buffer cannot take the whole
    // descriptor, still filling what fits and giving its length, as some drivers have it.
    bool moreData = false;
    // IOCTL_STORAGE_GET_DEVICE_NUMBER: the device of this type and number, with the drive's own
    // partition number; -1: a disk of its own, numbered after the letter.
    int disk = -1;
    DWORD numberError = 0; // that query fails with this code
    DEVICE_TYPE deviceType = FILE_DEVICE_DISK;
};
void SetDevice(char letter, const Device &device); // after AddDrive
int DeviceOpens(char letter);   // CreateFileA of "\\.\X:" since Reset, failed ones included
int DeviceQueries(char letter); // DeviceIoControl on handles of that drive since Reset
// The path GetWindowsDirectoryA gives (default "C:\WINDOWS").
void SetWindowsDirectory(const std::string &path);
// Probes of a not-ready drive while SEM_FAILCRITICALERRORS was off: Windows would have shown
// its own "insert a disk" dialog each time.
int CriticalErrorDialogs();

// ---- Files
// Paths are compared without regard to case (ASCII letters). A relative path (no drive, no
// leading backslash) is taken relative to the current directory. The file system holds names in
// UTF-16: an ANSI path is converted by the ANSI code page in force when it is used, so set the
// code pages first.
void AddFile(const std::string &path, const std::string &bytes);
void AddFileW(const std::u16string &path, const std::string &bytes); // any name at all
void SetCurrentDirectory(const std::string &dir);                    // default "C:\\"
std::string CurrentDirectory(); // as SetCurrentDirectoryA or the line above left it
// What GetModuleFileNameW(NULL, ...) gives (default "C:\\SLOTWARD.EXE"); the command line is
// set apart and may name anything.
void SetModulePath(const std::u16string &path);
const std::vector<std::string> &CreateFileLog();     // paths passed to CreateFileA, in order
const std::vector<std::u16string> &CreateFileWLog(); // paths passed to CreateFileW, in order

// ---- Message boxes
struct Box {
    HWND owner;
    std::string text;    // exact bytes
    std::string caption; // exact bytes
    UINT style;
    DWORD threadId;
    int answer;  // what MessageBoxA returned
    HWND window; // the box's own window, class "#32770", while it is on screen
};
// While a box is on screen it is a window of its thread, owned by `owner`, with one child
// window per button (GetDlgItem finds them by IDOK, IDYES, IDNO...). A WM_COMMAND carrying a
// button's id, sent or posted to it by the program or a test, closes it with that answer.
// As an answer, kKeepOpen leaves the box on screen running its own message loop: it dispatches
// the messages other threads send to its thread and the messages posted there, until a button's
// command closes it, or a quit request ends it with 0 (the request stays for the caller's own
// loop), or its owner is destroyed (0).
constexpr int kKeepOpen = -1;
// Answers for the next boxes, in order (IDYES, IDNO, IDOK, kKeepOpen, or 0 for a box that
// fails). A box with no scripted answer returns 0 and is recorded in Problems().
void ScriptBoxAnswers(const std::vector<int> &answers);
// Called inside MessageBoxA on the box's thread, after the box is logged and its window made;
// its result is the box's answer, overriding the script, unless the program closed the box with
// a button's command meanwhile. Use it to act while a box is "on screen".
void OnBox(std::function<int(const Box &)> hook);
const std::vector<Box> &Boxes();
// What a box's own message loop does while it is on screen, for OnBox hooks: runs the messages
// other threads have sent to the calling thread and dispatches its posted messages, until none
// is left; a quit request stays for the caller's own loop. Returns how many messages ran.
int DispatchWaitingMessages();
// How many messages other threads have sent to that thread and still wait for it to run.
int SentMessagesWaiting(DWORD threadId);

// ---- Time and system metrics
// GetTickCount's clock. It stands still unless a test moves it or a program thread sleeps
// (Sleep moves it by the time slept), so a wait with a time-out ends exactly when the test
// says; after Reset it stands 10 s before the 32-bit wrap.
void AdvanceClock(DWORD milliseconds);
DWORD Clock();
// How many threads wait in MsgWaitForMultipleObjects with a time-out, which only the clock ends.
int ClockWaiters();
// What GetSystemMetrics answers for an SM_* index (0 for any index not set, as Windows 2000
// answers SM_SHUTTINGDOWN).
void SetSystemMetric(int index, int value);

// ---- Failure injection
enum class Api {
    GlobalAlloc,
    GlobalLock,
    CreateMutexA,
    CreateEventA,
    OpenEventA,
    CreateThread,
    RegisterClassA,
    CreateWindowExA,
    MessageBoxA,
    PostMessageA,
    CreateFileA,
    CreateFileW,
    ReadFile,
    GetModuleFileNameW,
    SetCurrentDirectoryA,
    GetModuleHandleA,
    MultiByteToWideChar,
    ShutdownBlockReasonCreate,
    ShutdownBlockReasonDestroy,
    SetProcessShutdownParameters,
    RegisterApplicationRestart,
    DeviceIoControl,
    Count
};
// Makes the nth call (1-based, counted from now) of `api` fail, or that call and every later
// one when `persistent`. A failing call returns the API's failure value and sets a fitting
// last-error code.
void FailCall(Api api, int nth, bool persistent = false);
int Calls(Api api); // calls of `api` since Reset

// ---- Named objects of other processes
// A named event that a process with other rights (an elevated one) created: this program may
// neither open nor create it (ERROR_ACCESS_DENIED). The first `unseenOpens` OpenEventA calls do
// not find it yet, as when that process creates it between a start's open and its create.
void AddElevatedEvent(const std::string &name, int unseenOpens = 0);

// ---- Processes
// Every kernel handle belongs to the process of the thread that opened it: the program's own
// (0), or another one while a test runs code in it; CreateThread's threads belong to their
// creator's. EndProcess closes every handle the process still holds, as Windows does when a
// process ends, so a named object outlives it only while another process holds a handle to it.
int NewProcess();                                                 // a new id, never reused
void RunInProcess(int process, const std::function<void()> &run); // on the calling thread
void EndProcess(int process);

// ---- Functions looked up at run time (GetModuleHandleA "USER32"/"KERNEL32" + GetProcAddress)
// The system decides which of the simulated session-end functions GetProcAddress hands out;
// any other of them gives NULL, as on a system that lacks it. A name the simulation does not
// know at all is a problem (a typo would otherwise pass for an older system).
enum class System {
    Windows2000,  // none of them (the system after Reset)
    WindowsXp,    // SetProcessShutdownParameters only
    WindowsVista, // Vista to 11: all four
    Wine8,        // all but ShutdownBlockReasonDestroy
};
void SetSystem(System system);
const std::vector<std::string> &LookUps(); // "MODULE!Name" per GetProcAddress call

// A call of one of the simulated session-end functions, failed ones included.
struct SessionCall {
    std::string function; // its name
    HWND window;          // ShutdownBlockReasonCreate/Destroy
    std::u16string text;  // the block reason, or the restart's arguments
    DWORD level;          // SetProcessShutdownParameters
    DWORD flags;          // SetProcessShutdownParameters, RegisterApplicationRestart
    DWORD threadId;
};
const std::vector<SessionCall> &SessionCalls();

// Drive queries and session-end calls in the one order they were made, from every thread:
// "GetLogicalDrives", "GetDriveTypeA D:", "FindFirstFileA D:*.*", and each SessionCall's name.
const std::vector<std::string> &CallOrder();

// ---- Accounting
int LiveGlobalBlocks();   // GlobalAlloc blocks not yet freed
int LockedGlobalBlocks(); // of those, blocks with a lock count above zero
int OpenHandles();        // kernel handles (events, mutexes, threads, files, searches) not closed
bool HandleOpen(HANDLE handle);    // whether the program still holds that one
int RunningThreads();              // CreateThread's threads that have not ended
int WaitingThreads(HANDLE handle); // threads inside WaitForSingleObject on that handle now
int LiveWindows();                 // windows created and not destroyed
bool NamedEventExists(const std::string &name);
bool EventSignalled(const std::string &name); // state of a named event, without consuming it

// ---- Windows
DWORD WindowStyle(HWND window);
DWORD WindowExStyle(HWND window);
std::string WindowClassName(HWND window);
std::string WindowTitle(HWND window);
bool WindowVisible(HWND window);
DWORD WindowThread(HWND window); // the thread that created it, 0 for no window
// The resource id of the program's own icon that the window's class carries, 0 for none.
int ClassIconResource(HWND window);
// Waits (up to timeoutMs) until a window of that class exists; returns it or NULL.
HWND WaitForWindow(const std::string &className, int timeoutMs);

// ---- Process end
// The code passed to ExitProcess, or -1. In the simulation ExitProcess records the code and
// ends the calling thread's run of the program by calling the handler set here (by default it
// ends the host process with that code).
int ExitCode();
void OnExitProcess(std::function<void(UINT)> handler);

} // namespace sim
