// Drives and media: which drive letters exist, their types, and what a search on each finds,
// with a count and a log of every type query and probe, and the error mode that decides
// whether Windows would have put up its own dialog for a drive that is not ready.
#include "sim_internal.h"

#include <cstring>

using namespace sim::detail;

namespace {

int DriveIndex(char letter) {
    char upper = static_cast<char>(letter & 0xDF);
    return (upper >= 'A' && upper <= 'Z') ? upper - 'A' : -1;
}

// "D:" or "D:\" in either case; -1 for anything else.
int RootIndex(const char *root) {
    size_t length = std::strlen(root);
    if (length < 2 || length > 3 || root[1] != ':')
        return -1;
    if (length == 3 && root[2] != '\\' && root[2] != '/')
        return -1;
    return DriveIndex(root[0]);
}

// The drive a search pattern runs on: its own drive letter, else the current directory's.
int PatternIndex(const char *pattern) {
    if (pattern[0] != '\0' && pattern[1] == ':')
        return DriveIndex(pattern[0]);
    return DriveIndex(St().currentDirectory.empty() ? '?' : St().currentDirectory[0]);
}

HANDLE OpenSearch(LPWIN32_FIND_DATAA findData) {
    std::memset(findData, 0, sizeof *findData);
    findData->dwFileAttributes = FILE_ATTRIBUTE_NORMAL;
    findData->nFileSizeLow = 1024;
    std::strcpy(findData->cFileName, "README.TXT");
    auto search = std::make_shared<Object>();
    search->kind = Kind::Find;
    SetLastError(ERROR_SUCCESS);
    return AddHandle(search);
}

} // namespace

namespace sim {

// NOLINTNEXTLINE(bugprone-easily-swappable-parameters): the letter names the drive; then its type
void AddDrive(char letter, UINT type, Medium medium, DWORD failCode) {
    Guard lock(Mutex());
    int index = DriveIndex(letter);
    if (index < 0) {
        AddProblem(std::string("AddDrive with a bad letter: ") + letter);
        return;
    }
    Drive &drive = St().drives[index];
    drive.exists = true;
    drive.type = type;
    drive.medium = medium;
    drive.failCode = failCode;
    drive.device = Device();
}

int TypeQueries(char letter) {
    Guard lock(Mutex());
    int index = DriveIndex(letter);
    return index < 0 ? 0 : St().drives[index].typeQueries;
}

int Probes(char letter) {
    Guard lock(Mutex());
    int index = DriveIndex(letter);
    return index < 0 ? 0 : St().drives[index].probes;
}

const std::vector<std::string> &ProbePatterns() {
    return Snapshot<&State::probePatterns>();
}
const std::vector<std::string> &TypeQueryRoots() {
    return Snapshot<&State::typeQueryRoots>();
}

void OnProbe(std::function<void(char)> hook) {
    Guard lock(Mutex());
    St().probeHook = std::move(hook);
}

} // namespace sim

extern "C" {

DWORD WINAPI GetLogicalDrives(void) {
    Guard lock(Mutex());
    St().callOrder.push_back("GetLogicalDrives");
    DWORD mask = 0;
    for (int i = 0; i < 26; i++)
        if (St().drives[i].exists)
            mask |= 1u << i;
    return mask;
}

UINT WINAPI GetDriveTypeA(LPCSTR rootPathName) {
    Guard lock(Mutex());
    St().typeQueryRoots.push_back(rootPathName ? rootPathName : "");
    St().callOrder.push_back(std::string("GetDriveTypeA ") + (rootPathName ? rootPathName : ""));
    int index = rootPathName ? RootIndex(rootPathName) : PatternIndex("");
    if (index < 0)
        return DRIVE_NO_ROOT_DIR;
    Drive &drive = St().drives[index];
    drive.typeQueries++;
    return drive.exists ? drive.type : DRIVE_NO_ROOT_DIR;
}

HANDLE WINAPI FindFirstFileA(LPCSTR fileName, LPWIN32_FIND_DATAA findData) {
    Guard lock(Mutex());
    if (!fileName || !findData) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    // The hook may send messages or wait for other threads, so it runs unlocked.
    std::function<void(char)> hook = St().probeHook;
    if (hook) {
        lock.unlock();
        hook(fileName[0]);
        lock.lock();
    }
    St().probePatterns.push_back(fileName);
    St().callOrder.push_back(std::string("FindFirstFileA ") + fileName);
    int index = PatternIndex(fileName);
    if (index < 0 || !St().drives[index].exists) {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    Drive &drive = St().drives[index];
    drive.probes++;
    switch (drive.medium) {
    case sim::Medium::Files:
        return OpenSearch(findData);
    case sim::Medium::None:
        if (!(St().errorMode & SEM_FAILCRITICALERRORS))
            St().criticalErrorDialogs++;
        SetLastError(ERROR_NOT_READY);
        return INVALID_HANDLE_VALUE;
    case sim::Medium::EmptyFormatted:
        SetLastError(ERROR_FILE_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    case sim::Medium::Failing:
        SetLastError(drive.failCode);
        return INVALID_HANDLE_VALUE;
    }
    return INVALID_HANDLE_VALUE;
}

BOOL WINAPI FindClose(HANDLE findFile) {
    Guard lock(Mutex());
    std::shared_ptr<Object> object = FindObject(findFile);
    if (!object || object->kind != Kind::Find) {
        AddProblem("FindClose of something that is not an open search " + HandleText(findFile));
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    DropHandle(findFile);
    return TRUE;
}

} // extern "C"
