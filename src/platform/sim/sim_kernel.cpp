// Kernel objects behind handles: events (named or not, auto- or manual-reset), mutexes with an
// owner and a recursion count, named events of a process with other rights that this one may
// not touch, and real threads whose handles are signalled when they end;
// CloseHandle and WaitForSingleObject over all of them. Every handle belongs to a process, and a
// process that ends closes all of its handles, so a name lives exactly as long as on Windows.
#include "sim_internal.h"

#include <atomic>

using namespace sim::detail;

namespace {

// The process of the calling thread: the program's own unless a test runs it as another one.
thread_local int tProcess = 0;
std::atomic<int> gNextProcess{1}; // never reused, not even after Reset

} // namespace

namespace sim {
namespace detail {

std::shared_ptr<Object> FindObject(HANDLE h) {
    auto found = St().handles.find(reinterpret_cast<uintptr_t>(h));
    return found == St().handles.end() ? nullptr : found->second;
}

HANDLE AddHandle(const std::shared_ptr<Object> &object) {
    uintptr_t value = NewHandleValue();
    St().handles[value] = object;
    St().handleProcesses[value] = tProcess;
    object->handles++;
    // NOLINTNEXTLINE(performance-no-int-to-ptr): a kernel handle is a number, as on Win32
    return reinterpret_cast<HANDLE>(value);
}

void DropHandle(HANDLE h) {
    auto found = St().handles.find(reinterpret_cast<uintptr_t>(h));
    std::shared_ptr<Object> object = found->second;
    St().handles.erase(found);
    St().handleProcesses.erase(reinterpret_cast<uintptr_t>(h));
    if (--object->handles == 0 && !object->name.empty())
        St().names.erase(object->name);
}

} // namespace detail

int OpenHandles() {
    Guard lock(Mutex());
    return static_cast<int>(St().handles.size());
}

int RunningThreads() {
    Guard lock(Mutex());
    int running = 0;
    for (const auto &thread : St().threadObjects)
        running += thread->signalled ? 0 : 1;
    return running;
}

bool HandleOpen(HANDLE handle) {
    Guard lock(Mutex());
    return FindObject(handle) != nullptr;
}

int WaitingThreads(HANDLE handle) {
    Guard lock(Mutex());
    auto found = St().waits.find(reinterpret_cast<uintptr_t>(handle));
    return found == St().waits.end() ? 0 : found->second;
}

int NewProcess() {
    return gNextProcess.fetch_add(1);
}

void RunInProcess(int process, const std::function<void()> &run) {
    int own = tProcess;
    tProcess = process;
    run();
    tProcess = own;
}

void EndProcess(int process) {
    Guard lock(Mutex());
    std::vector<HANDLE> held;
    for (const auto &entry : St().handleProcesses)
        if (entry.second == process)
            // NOLINTNEXTLINE(performance-no-int-to-ptr): a kernel handle is a number, as on Win32
            held.push_back(reinterpret_cast<HANDLE>(entry.first));
    for (HANDLE h : held)
        DropHandle(h);
    Changed().notify_all();
}

bool NamedEventExists(const std::string &name) {
    Guard lock(Mutex());
    auto found = St().names.find(name);
    return found != St().names.end() && found->second->kind == Kind::Event;
}

void AddElevatedEvent(const std::string &name, int unseenOpens) {
    Guard lock(Mutex());
    auto object = std::make_shared<Object>();
    object->kind = Kind::Event;
    object->name = name;
    object->elevated = true;
    object->unseenOpens = unseenOpens;
    St().names[name] = object; // no handle of this process refers to it
}

bool EventSignalled(const std::string &name) {
    Guard lock(Mutex());
    auto found = St().names.find(name);
    return found != St().names.end() && found->second->kind == Kind::Event &&
           found->second->signalled;
}

} // namespace sim

namespace {

// Creates a kernel object, or opens the one of that name that exists already. Names are
// compared with case, as object names are on Windows.
HANDLE CreateNamed(Kind kind, LPCSTR name, const Object &initial) {
    if (name && *name) {
        auto found = St().names.find(name);
        if (found != St().names.end()) {
            if (found->second->elevated) {
                SetLastError(ERROR_ACCESS_DENIED);
                return NULL;
            }
            if (found->second->kind != kind) {
                SetLastError(ERROR_INVALID_HANDLE);
                return NULL;
            }
            HANDLE h = AddHandle(found->second);
            SetLastError(ERROR_ALREADY_EXISTS);
            return h;
        }
    }
    auto object = std::make_shared<Object>(initial);
    object->kind = kind;
    object->name = name ? name : "";
    if (!object->name.empty())
        St().names[object->name] = object;
    SetLastError(ERROR_SUCCESS);
    return AddHandle(object);
}

// The object behind a handle that must be of `kind`; records a problem otherwise.
std::shared_ptr<Object> UsableObject(HANDLE h, Kind kind, const char *api) {
    std::shared_ptr<Object> object = FindObject(h);
    if (object && object->kind == kind)
        return object;
    AddProblem(std::string(api) + " of an invalid or closed handle " + HandleText(h) +
               (object ? std::string(" (a ") + KindName(object->kind) + ")" : ""));
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
}

} // namespace

namespace sim {
namespace detail {

bool TryAcquire(Object &object, DWORD me) {
    switch (object.kind) {
    case Kind::Event:
        if (!object.signalled)
            return false;
        if (!object.manualReset)
            object.signalled = false; // releases exactly this one waiter
        return true;
    case Kind::Mutex:
        if (object.owner != 0 && object.owner != me)
            return false;
        object.owner = me;
        object.recursion++;
        return true;
    case Kind::Thread:
        return object.signalled;
    default:
        return false;
    }
}

} // namespace detail
} // namespace sim

namespace {

// As Windows frees a thread that has ended, its host thread is joined at the next start: a
// program that starts a thread for each query would otherwise pile up thousands of them. A
// thread marked ended has left the lock for good and only returns. Lock held.
void ReapEndedThreads() {
    for (size_t i = 0; i < St().threads.size();) {
        if (!St().threadObjects[i]->signalled) {
            i++;
            continue;
        }
        St().threads[i].join();
        St().threads.erase(St().threads.begin() + static_cast<std::ptrdiff_t>(i));
        St().threadObjects.erase(St().threadObjects.begin() + static_cast<std::ptrdiff_t>(i));
    }
}

void RunThread(const std::shared_ptr<Object> &thread, DWORD id, LPTHREAD_START_ROUTINE start,
               LPVOID parameter, int process) {
    AdoptThreadId(id);
    tProcess = process;
    DWORD exitCode = start(parameter);
    Guard lock(Mutex());
    thread->exitCode = exitCode;
    thread->signalled = true;
    ThreadEnded(id);
    Changed().notify_all();
}

// Counts a thread's wait on a handle for as long as it lasts, so that CloseHandle can tell.
// Lock held at both ends.
class Waiting {
  public:
    explicit Waiting(uintptr_t handle) : handle_(handle), generation_(St().generation) {
        St().waits[handle_]++;
    }
    ~Waiting() {
        if (St().generation == generation_ && --St().waits[handle_] == 0)
            St().waits.erase(handle_);
    }
    Waiting(const Waiting &) = delete;
    Waiting &operator=(const Waiting &) = delete;

  private:
    uintptr_t handle_;
    unsigned generation_;
};

} // namespace

extern "C" {

// NOLINTNEXTLINE(bugprone-easily-swappable-parameters): Win32's own signature
HANDLE WINAPI CreateEventA(LPSECURITY_ATTRIBUTES, BOOL manualReset, BOOL initialState,
                           LPCSTR name) {
    Guard lock(Mutex());
    if (ShouldFail(sim::Api::CreateEventA)) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return NULL;
    }
    Object initial{};
    initial.manualReset = manualReset != FALSE;
    initial.signalled = initialState != FALSE;
    return CreateNamed(Kind::Event, name, initial);
}

HANDLE WINAPI OpenEventA(DWORD, BOOL, LPCSTR name) {
    Guard lock(Mutex());
    if (ShouldFail(sim::Api::OpenEventA)) { // it looked before the event was created
        SetLastError(ERROR_FILE_NOT_FOUND);
        return NULL;
    }
    auto found = name ? St().names.find(name) : St().names.end();
    if (found != St().names.end() && found->second->unseenOpens > 0) {
        found->second->unseenOpens--;
        found = St().names.end();
    }
    if (found == St().names.end()) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return NULL;
    }
    if (found->second->elevated) {
        SetLastError(ERROR_ACCESS_DENIED);
        return NULL;
    }
    if (found->second->kind != Kind::Event) {
        SetLastError(ERROR_INVALID_HANDLE);
        return NULL;
    }
    SetLastError(ERROR_SUCCESS);
    return AddHandle(found->second);
}

BOOL WINAPI SetEvent(HANDLE event) {
    Guard lock(Mutex());
    std::shared_ptr<Object> object = UsableObject(event, Kind::Event, "SetEvent");
    if (!object)
        return FALSE;
    object->signalled = true;
    Changed().notify_all();
    return TRUE;
}

HANDLE WINAPI CreateMutexA(LPSECURITY_ATTRIBUTES, BOOL initialOwner, LPCSTR name) {
    Guard lock(Mutex());
    if (ShouldFail(sim::Api::CreateMutexA)) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return NULL;
    }
    Object initial{};
    if (initialOwner) {
        initial.owner = GetCurrentThreadId();
        initial.recursion = 1;
    }
    return CreateNamed(Kind::Mutex, name, initial);
}

BOOL WINAPI ReleaseMutex(HANDLE mutex) {
    Guard lock(Mutex());
    std::shared_ptr<Object> object = UsableObject(mutex, Kind::Mutex, "ReleaseMutex");
    if (!object)
        return FALSE;
    if (object->owner != GetCurrentThreadId()) {
        AddProblem("ReleaseMutex by a thread that does not own the mutex");
        SetLastError(kErrorNotOwner);
        return FALSE;
    }
    if (--object->recursion == 0) {
        object->owner = 0;
        Changed().notify_all();
    }
    return TRUE;
}

// A closed handle or a failed wait is no problem of its own: a waiting thread may lose the
// race with the thread that closes the handle, exactly as on Windows.
DWORD WINAPI WaitForSingleObject(HANDLE handle, DWORD milliseconds) {
    Guard lock(Mutex());
    std::shared_ptr<Object> object = FindObject(handle); // keeps it alive while waiting
    if (!object || object->kind == Kind::File || object->kind == Kind::Find) {
        SetLastError(ERROR_INVALID_HANDLE);
        return WAIT_FAILED;
    }
    DWORD me = GetCurrentThreadId();
    unsigned generation = St().generation;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
    Waiting waiting(reinterpret_cast<uintptr_t>(handle));
    for (;;) {
        if (St().resetting || St().generation != generation) {
            SetLastError(ERROR_INVALID_HANDLE); // the process is ending
            return WAIT_FAILED;
        }
        if (TryAcquire(*object, me))
            return WAIT_OBJECT_0;
        if (milliseconds == INFINITE)
            Changed().wait(lock);
        else if (std::chrono::steady_clock::now() >= deadline)
            return WAIT_TIMEOUT;
        else
            Changed().wait_until(lock, deadline);
    }
}

BOOL WINAPI CloseHandle(HANDLE handle) {
    Guard lock(Mutex());
    std::shared_ptr<Object> object = FindObject(handle);
    if (!object || object->kind == Kind::Find) {
        AddProblem("CloseHandle of an invalid or closed handle " + HandleText(handle) +
                   (object ? " (a search handle, which FindClose ends)" : ""));
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    // "If this handle is closed while the wait is still pending, the function's behavior is
    // undefined" (WaitForSingleObject).
    if (St().waits.count(reinterpret_cast<uintptr_t>(handle)) != 0)
        AddProblem("CloseHandle of " + HandleText(handle) + " while a thread waits on it");
    DropHandle(handle);
    return TRUE;
}

HANDLE WINAPI CreateThread(LPSECURITY_ATTRIBUTES, SIZE_T, LPTHREAD_START_ROUTINE start,
                           LPVOID parameter, DWORD, LPDWORD threadId) {
    Guard lock(Mutex());
    if (ShouldFail(sim::Api::CreateThread) || St().resetting || !start) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return NULL;
    }
    auto thread = std::make_shared<Object>();
    thread->kind = Kind::Thread;
    DWORD id = NewThreadId();
    HANDLE h = AddHandle(thread);
    if (threadId)
        *threadId = id;
    ReapEndedThreads();
    St().threads.emplace_back(RunThread, thread, id, start, parameter, tProcess);
    St().threadObjects.push_back(thread);
    return h;
}

} // extern "C"
