// Files of the simulated machine: a table of read-only files by full path (case-insensitive,
// held in UTF-16 as the file system holds names), the current directory, the program's own
// module path, CreateFileA (its path converted from the ANSI code page, as Windows converts it),
// CreateFileW and ReadFile (CreateFileA of "\\.\X:" opens a drive's device instead:
// sim_devices.cpp). Path scanning respects double-byte characters, whose second byte may be 0x5C.
// Letters compare without case in ASCII only: the tests name no other letters twice.
#include "sim_internal.h"

#include <algorithm>
#include <cctype>
#include <cstring>

using namespace sim::detail;

namespace {

bool Lead(unsigned char c) {
    return LeadByte(St().ansiCodePage, c);
}

// Index where the last path component starts.
size_t LastComponentStart(const std::string &path) {
    size_t start = 0;
    for (size_t i = 0; i < path.size(); i++) {
        unsigned char c = static_cast<unsigned char>(path[i]);
        if (Lead(c) && i + 1 < path.size())
            i++;
        else if (c == '\\' || c == '/' || c == ':')
            start = i + 1;
    }
    return start;
}

bool EndsWithSeparator(const std::string &path) {
    return !path.empty() && LastComponentStart(path) == path.size();
}

std::string Join(const std::string &dir, const std::string &name) {
    return EndsWithSeparator(dir) ? dir + name : dir + "\\" + name;
}

bool HasDrive(const std::string &path) {
    return path.size() >= 2 && path[1] == ':' && std::isalpha(static_cast<unsigned char>(path[0]));
}

std::string FullPath(const std::string &path) {
    const std::string &current = St().currentDirectory;
    if (HasDrive(path)) {
        if (path.size() > 2 && (path[2] == '\\' || path[2] == '/'))
            return path;
        // "D:name": relative to that drive's current directory, which is its root here
        // unless it is the drive of the current directory.
        if (HasDrive(current) && (path[0] & 0xDF) == (current[0] & 0xDF))
            return Join(current, path.substr(2));
        return path.substr(0, 2) + "\\" + path.substr(2);
    }
    if (!path.empty() && (path[0] == '\\' || path[0] == '/'))
        return current.substr(0, 2) + path;
    return Join(current, path);
}

// The table key: the full path in UTF-16, '/' as '\\' and ASCII letters in upper case.
std::u16string WideKey(std::u16string path) {
    for (char16_t &unit : path) {
        if (unit == u'/')
            unit = u'\\';
        else if (unit >= u'a' && unit <= u'z')
            unit = static_cast<char16_t>(unit - u'a' + u'A');
    }
    return path;
}

// An ANSI path as CreateFileA takes it: made full in the ANSI code page, then converted.
std::u16string Key(const std::string &path) {
    return WideKey(Widen(FullPath(path)));
}

// A wide path with a drive and a backslash is full; any other is taken relative to the current
// directory, as FullPath takes an ANSI one.
std::u16string Key(const std::u16string &path) {
    bool full = path.size() > 2 && path[1] == u':' && (path[2] == u'\\' || path[2] == u'/');
    if (full)
        return WideKey(path);
    std::u16string current = Widen(FullPath(""));
    return WideKey(current.back() == u'\\' ? current + path : current + u'\\' + path);
}

HANDLE OpenFile(const std::u16string &key) {
    auto found = St().files.find(key);
    if (found == St().files.end()) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    auto file = std::make_shared<Object>();
    file->kind = Kind::File;
    file->bytes = found->second;
    SetLastError(ERROR_SUCCESS);
    return AddHandle(file);
}

bool MayWrite(DWORD access, DWORD creation) {
    return (access & GENERIC_WRITE) || creation != OPEN_EXISTING;
}

} // namespace

namespace sim {

void AddFile(const std::string &path, const std::string &bytes) {
    Guard lock(Mutex());
    St().files[Key(path)] = bytes;
}

void SetCurrentDirectory(const std::string &dir) {
    Guard lock(Mutex());
    St().currentDirectory = dir;
}

void AddFileW(const std::u16string &path, const std::string &bytes) {
    Guard lock(Mutex());
    St().files[Key(path)] = bytes;
}

std::string CurrentDirectory() {
    Guard lock(Mutex());
    return St().currentDirectory;
}

void SetModulePath(const std::u16string &path) {
    Guard lock(Mutex());
    St().modulePath = path;
}

const std::vector<std::string> &CreateFileLog() {
    return Snapshot<&State::createFileLog>();
}
const std::vector<std::u16string> &CreateFileWLog() {
    return Snapshot<&State::createFileWLog>();
}

} // namespace sim

extern "C" {

// The path of the program's own module (NULL; no other module is asked for). A buffer that
// cannot take the path and its terminator gets what fits and the result is the buffer's size:
// Windows 2000 and XP leave the cut path unterminated and the last error alone, later systems
// terminate it and say ERROR_INSUFFICIENT_BUFFER.
DWORD WINAPI GetModuleFileNameW(HMODULE module, LPWSTR buffer, DWORD size) {
    Guard lock(Mutex());
    if (ShouldFail(sim::Api::GetModuleFileNameW)) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return 0;
    }
    if (module != NULL || !buffer) {
        AddProblem("GetModuleFileNameW of another module or into no buffer");
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    const std::u16string &path = St().modulePath;
    DWORD length = static_cast<DWORD>(path.size());
    if (length < size) {
        std::memcpy(buffer, path.c_str(), (length + 1) * sizeof(WCHAR));
        return length;
    }
    if (size == 0)
        return 0;
    bool older = St().system == sim::System::Windows2000 || St().system == sim::System::WindowsXp;
    std::memcpy(buffer, path.data(), (older ? size : size - 1) * sizeof(WCHAR));
    if (!older) {
        buffer[size - 1] = 0;
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
    }
    return size;
}

HANDLE WINAPI CreateFileA(LPCSTR fileName, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES,
                          DWORD creation, DWORD, HANDLE) {
    Guard lock(Mutex());
    St().createFileLog.push_back(fileName ? fileName : "");
    bool failing = ShouldFail(sim::Api::CreateFileA);
    HANDLE device = fileName ? OpenDevice(fileName, access, share, creation, failing) : NULL;
    if (device != NULL)
        return device;
    if (failing) {
        SetLastError(ERROR_ACCESS_DENIED);
        return INVALID_HANDLE_VALUE;
    }
    if (!fileName) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    if (MayWrite(access, creation)) {
        AddProblem(std::string("CreateFileA that may write or create a file: ") + fileName);
        SetLastError(ERROR_ACCESS_DENIED);
        return INVALID_HANDLE_VALUE;
    }
    return OpenFile(Key(std::string(fileName)));
}

// Files only: the program opens no device by a wide name.
HANDLE WINAPI CreateFileW(LPCWSTR fileName, DWORD access, DWORD, LPSECURITY_ATTRIBUTES,
                          DWORD creation, DWORD, HANDLE) {
    Guard lock(Mutex());
    std::u16string name = fileName ? std::u16string(fileName) : std::u16string();
    St().createFileWLog.push_back(name);
    if (ShouldFail(sim::Api::CreateFileW)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return INVALID_HANDLE_VALUE;
    }
    if (!fileName || name.empty() || MayWrite(access, creation) || name.rfind(u"\\\\.\\", 0) == 0) {
        AddProblem("CreateFileW that may write, names no file or names a device");
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    return OpenFile(Key(name));
}

// The simulation holds no folders: a full path is taken as one that exists.
BOOL WINAPI SetCurrentDirectoryA(LPCSTR path) {
    Guard lock(Mutex());
    if (ShouldFail(sim::Api::SetCurrentDirectoryA)) {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return FALSE;
    }
    if (!path || !HasDrive(path) || (path[2] != '\\' && path[2] != '/')) {
        AddProblem(std::string("SetCurrentDirectoryA of no full path: ") + (path ? path : ""));
        SetLastError(ERROR_PATH_NOT_FOUND);
        return FALSE;
    }
    St().currentDirectory = path;
    return TRUE;
}

// NOLINTNEXTLINE(bugprone-easily-swappable-parameters): Win32's own signature
BOOL WINAPI ReadFile(HANDLE file, LPVOID buffer, DWORD toRead, LPDWORD read, LPOVERLAPPED) {
    Guard lock(Mutex());
    if (read)
        *read = 0;
    if (ShouldFail(sim::Api::ReadFile)) {
        SetLastError(ERROR_READ_FAULT);
        return FALSE;
    }
    std::shared_ptr<Object> object = FindObject(file);
    if (!object || object->kind != Kind::File || object->device >= 0) {
        AddProblem("ReadFile of an invalid or closed handle " + HandleText(file));
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    size_t count = std::min<size_t>(toRead, object->bytes.size() - object->position);
    if (count > 0)
        std::memcpy(buffer, object->bytes.data() + object->position, count);
    object->position += count;
    if (read)
        *read = static_cast<DWORD>(count);
    return TRUE;
}

} // extern "C"
