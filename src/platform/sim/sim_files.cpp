// Files of the simulated machine: a table of read-only files by full path (case-insensitive),
// the current directory, SearchPathA over the test's search directories, CreateFileA and
// ReadFile (CreateFileA of "\\.\X:" opens a drive's device instead: sim_devices.cpp). Path
// scanning respects double-byte characters, whose second byte may be 0x5C.
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

bool IsAbsolute(const std::string &path) {
    return HasDrive(path) || (!path.empty() && (path[0] == '\\' || path[0] == '/'));
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

// The table key: the full path with '/' as '\' and letters in upper case, second bytes of
// double-byte characters left alone.
std::string Key(const std::string &path) {
    std::string key = FullPath(path);
    for (size_t i = 0; i < key.size(); i++) {
        unsigned char c = static_cast<unsigned char>(key[i]);
        if (Lead(c) && i + 1 < key.size())
            i++;
        else if (c == '/')
            key[i] = '\\';
        else if (c >= 'a' && c <= 'z')
            key[i] = static_cast<char>(c - 'a' + 'A');
    }
    return key;
}

bool FileExists(const std::string &path) {
    return St().files.count(Key(path)) != 0;
}

std::vector<std::string> SplitList(const char *list) {
    std::vector<std::string> parts(1);
    for (const char *p = list; *p; p++) {
        if (*p == ';')
            parts.emplace_back();
        else
            parts.back() += *p;
    }
    return parts;
}

// Where SearchPathA finds `name`, or "" when it does not.
std::string Search(const char *path, const std::string &name, const char *extension) {
    if (name.empty() || name.find('"') != std::string::npos)
        return ""; // no file name can hold a double quote
    std::string candidate = name;
    if (extension && name.find('.', LastComponentStart(name)) == std::string::npos)
        candidate += extension;
    if (IsAbsolute(candidate))
        return FileExists(candidate) ? FullPath(candidate) : "";
    std::vector<std::string> dirs = path ? SplitList(path) : St().searchDirectories;
    for (const std::string &dir : dirs) {
        if (!dir.empty() && FileExists(Join(dir, candidate)))
            return Join(dir, candidate);
    }
    return "";
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

void SetSearchDirectories(const std::vector<std::string> &dirs) {
    Guard lock(Mutex());
    St().searchDirectories = dirs;
}

const std::vector<std::string> &CreateFileLog() {
    return Snapshot<&State::createFileLog>();
}
const std::vector<std::string> &SearchLog() {
    return Snapshot<&State::searchLog>();
}

} // namespace sim

extern "C" {

DWORD WINAPI SearchPathA(LPCSTR path, LPCSTR fileName, LPCSTR extension, DWORD bufferLength,
                         LPSTR buffer, LPSTR *filePart) {
    Guard lock(Mutex());
    St().searchLog.push_back(fileName ? fileName : "");
    if (ShouldFail(sim::Api::SearchPathA) || !fileName) {
        SetLastError(fileName ? ERROR_FILE_NOT_FOUND : ERROR_INVALID_PARAMETER);
        return 0;
    }
    std::string found = Search(path, fileName, extension);
    if (found.empty()) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return 0;
    }
    DWORD length = static_cast<DWORD>(found.size());
    if (!buffer || length + 1 > bufferLength)
        return length + 1; // the size needed, terminator included; nothing is written
    std::memcpy(buffer, found.c_str(), length + 1);
    if (filePart)
        *filePart = buffer + LastComponentStart(found);
    return length;
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
    if ((access & GENERIC_WRITE) || creation != OPEN_EXISTING) {
        AddProblem(std::string("CreateFileA that may write or create a file: ") + fileName);
        SetLastError(ERROR_ACCESS_DENIED);
        return INVALID_HANDLE_VALUE;
    }
    auto found = St().files.find(Key(fileName));
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
