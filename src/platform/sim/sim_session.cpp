// Functions found only at run time: GetModuleHandleA and GetProcAddress, and the session-end
// functions of newer systems that they hand out where the simulated system has them. Each call
// of those is logged with its arguments and thread, and in the common order of drive queries
// and session calls; as on Windows, only the thread that owns a window may set or remove its
// block reason. Also the program's own resources: its icon, id 1.
#include "sim_internal.h"

using namespace sim::detail;

namespace sim {

void SetSystem(System system) {
    Guard lock(Mutex());
    St().system = system;
}

const std::vector<std::string> &LookUps() {
    return Snapshot<&State::lookUps>();
}

const std::vector<SessionCall> &SessionCalls() {
    return Snapshot<&State::sessionCalls>();
}

const std::vector<std::string> &CallOrder() {
    return Snapshot<&State::callOrder>();
}

} // namespace sim

namespace {

// Module handles of the simulation: the program itself and the two system libraries.
HMODULE const kProgramModule = reinterpret_cast<HMODULE>(0x00400000);
HMODULE const kUser32 = reinterpret_cast<HMODULE>(0x77D40000);
HMODULE const kKernel32 = reinterpret_cast<HMODULE>(0x7C800000);
// The one icon among the program's resources.
const int kProgramIconId = 1;

// The name without a ".DLL" ending, in upper case.
std::string ModuleKey(const char *name) {
    std::string key = Upper(name);
    if (key.size() > 4 && key.compare(key.size() - 4, 4, ".DLL") == 0)
        key.resize(key.size() - 4);
    return key;
}

std::u16string WideText(LPCWSTR text) {
    return text ? std::u16string(text) : std::u16string();
}

void Log(const char *function, HWND window, LPCWSTR text, DWORD level, DWORD flags) {
    St().sessionCalls.push_back(
        sim::SessionCall{function, window, WideText(text), level, flags, GetCurrentThreadId()});
    St().callOrder.push_back(function);
}

// Whether the calling thread may change the window's block reason; records why not.
bool MayChangeReason(HWND window, const char *function) {
    Window *record = LiveWindow(window);
    if (!record) {
        AddProblem(std::string(function) + " for a handle that is no window " + HandleText(window));
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return false;
    }
    if (record->ownerThread != GetCurrentThreadId()) {
        AddProblem(std::string(function) + " from a thread that does not own the window");
        SetLastError(ERROR_ACCESS_DENIED);
        return false;
    }
    return true;
}

BOOL WINAPI SimShutdownBlockReasonCreate(HWND window, LPCWSTR reason) {
    Guard lock(Mutex());
    Log("ShutdownBlockReasonCreate", window, reason, 0, 0);
    if (!reason)
        AddProblem("ShutdownBlockReasonCreate without a reason");
    if (ShouldFail(sim::Api::ShutdownBlockReasonCreate)) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return FALSE;
    }
    return MayChangeReason(window, "ShutdownBlockReasonCreate") && reason ? TRUE : FALSE;
}

BOOL WINAPI SimShutdownBlockReasonDestroy(HWND window) {
    Guard lock(Mutex());
    Log("ShutdownBlockReasonDestroy", window, nullptr, 0, 0);
    if (ShouldFail(sim::Api::ShutdownBlockReasonDestroy)) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return FALSE;
    }
    return MayChangeReason(window, "ShutdownBlockReasonDestroy") ? TRUE : FALSE;
}

BOOL WINAPI SimSetProcessShutdownParameters(DWORD level, DWORD flags) {
    Guard lock(Mutex());
    Log("SetProcessShutdownParameters", NULL, nullptr, level, flags);
    if (ShouldFail(sim::Api::SetProcessShutdownParameters)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    return TRUE;
}

// Windows refuses a command line longer than RESTART_MAX_CMD_LINE (1024) characters.
HRESULT WINAPI SimRegisterApplicationRestart(LPCWSTR arguments, DWORD flags) {
    Guard lock(Mutex());
    Log("RegisterApplicationRestart", NULL, arguments, 0, flags);
    if (ShouldFail(sim::Api::RegisterApplicationRestart))
        return E_FAIL;
    return WideText(arguments).size() < 1024 ? S_OK : E_INVALIDARG;
}

// Through the type-less function pointer, which converts to any other without complaint.
template <typename Proc> FARPROC Generic(Proc proc) noexcept {
    return reinterpret_cast<FARPROC>(reinterpret_cast<void (*)(void)>(proc));
}

struct Export {
    HMODULE module;
    const char *name;
    FARPROC proc;
    bool onXp; // Windows XP has it too; Vista has them all
    bool onWine8;
};

const Export kExports[] = {
    {kUser32, "ShutdownBlockReasonCreate", Generic(SimShutdownBlockReasonCreate), false, true},
    {kUser32, "ShutdownBlockReasonDestroy", Generic(SimShutdownBlockReasonDestroy), false, false},
    {kKernel32, "SetProcessShutdownParameters", Generic(SimSetProcessShutdownParameters), true,
     true},
    {kKernel32, "RegisterApplicationRestart", Generic(SimRegisterApplicationRestart), false, true},
};

bool Offered(const Export &entry, sim::System system) {
    switch (system) {
    case sim::System::Windows2000:
        return false;
    case sim::System::WindowsXp:
        return entry.onXp;
    case sim::System::WindowsVista:
        return true;
    case sim::System::Wine8:
        return entry.onWine8;
    }
    return false;
}

} // namespace

extern "C" {

HMODULE WINAPI GetModuleHandleA(LPCSTR moduleName) {
    Guard lock(Mutex());
    if (ShouldFail(sim::Api::GetModuleHandleA)) {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return NULL;
    }
    if (!moduleName)
        return kProgramModule;
    std::string key = ModuleKey(moduleName);
    if (key == "USER32")
        return kUser32;
    if (key == "KERNEL32")
        return kKernel32;
    SetLastError(ERROR_MOD_NOT_FOUND);
    return NULL;
}

// Windows hands out one shared handle per icon resource, whatever the number of loads.
HICON WINAPI LoadIconA(HINSTANCE instance, LPCSTR name) {
    Guard lock(Mutex());
    if (instance != kProgramModule || !IS_INTRESOURCE(name) ||
        reinterpret_cast<uintptr_t>(name) != kProgramIconId) {
        SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
        return NULL;
    }
    uintptr_t handle = St().icons.empty() ? NewHandleValue() : St().icons.begin()->first;
    St().icons[handle] = kProgramIconId;
    // NOLINTNEXTLINE(performance-no-int-to-ptr): an icon handle is a number, as on Win32
    return reinterpret_cast<HICON>(handle);
}

// Names are compared with case, as the system compares export names.
FARPROC WINAPI GetProcAddress(HMODULE module, LPCSTR procName) {
    Guard lock(Mutex());
    std::string name = procName ? procName : "";
    std::string moduleName = module == kUser32     ? "USER32"
                             : module == kKernel32 ? "KERNEL32"
                                                   : HandleText(module);
    St().lookUps.push_back(moduleName + "!" + name);
    for (const Export &entry : kExports) {
        if (name != entry.name)
            continue;
        if (entry.module == module && Offered(entry, St().system))
            return entry.proc;
        SetLastError(ERROR_PROC_NOT_FOUND);
        return NULL;
    }
    AddProblem("GetProcAddress of a function the simulation does not know: " + moduleName + "!" +
               name);
    SetLastError(ERROR_PROC_NOT_FOUND);
    return NULL;
}

} // extern "C"
