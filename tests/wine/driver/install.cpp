// What a release leaves on the system: the version record of a program as an ANSI program reads
// it, shortcuts, the system's folders and the installed products of one upgrade code.
#include "commands.h"

#include <msi.h>
#include <msiquery.h>
#include <shlobj.h>

#include <vector>

namespace {

const char *const kVersionStrings[] = {"FileDescription", "ProductName",      "FileVersion",
                                       "ProductVersion",  "OriginalFilename", "InternalName",
                                       "LegalCopyright",  "CompanyName"};

std::string Ansi(const wchar_t *text) {
    char buffer[MAX_PATH * 2] = "";
    WideCharToMultiByte(CP_ACP, 0, text, -1, buffer, sizeof(buffer), NULL, NULL);
    return buffer;
}

// ANSI text from the version record, as the report's wide text.
std::wstring FromAnsi(const char *text) {
    wchar_t buffer[512] = L"";
    MultiByteToWideChar(CP_ACP, 0, text, -1, buffer, 512);
    return buffer;
}

} // namespace

// Reads the version record through GetFileVersionInfoA and VerQueryValueA: the fixed part,
// the list of translations and every string of each translation's table.
int VersionCommand(int argc, wchar_t **argv, Report &report) {
    if (argc != 4) {
        return 2;
    }
    std::string path = Ansi(argv[3]);
    DWORD ignored = 0;
    DWORD size = GetFileVersionInfoSizeA(path.c_str(), &ignored);
    std::vector<char> data(size + 1);
    if (size == 0 || !GetFileVersionInfoA(path.c_str(), 0, size, data.data())) {
        report.Set("read", "failed:" + std::to_string(GetLastError()));
        return 0;
    }
    report.Set("read", "ok");
    VS_FIXEDFILEINFO *fixed = NULL;
    UINT length = 0;
    if (VerQueryValueA(data.data(), "\\", (void **)&fixed, &length) && fixed) {
        char text[64];
        wsprintfA(text, "%u.%u.%u.%u", HIWORD(fixed->dwFileVersionMS),
                  LOWORD(fixed->dwFileVersionMS), HIWORD(fixed->dwFileVersionLS),
                  LOWORD(fixed->dwFileVersionLS));
        report.Set("fixed", std::string(text));
    }
    WORD *translations = NULL;
    VerQueryValueA(data.data(), "\\VarFileInfo\\Translation", (void **)&translations, &length);
    std::string tables;
    for (UINT i = 0; translations && i < length / 4; i++) {
        char table[16];
        wsprintfA(table, "%04X%04X", translations[2 * i], translations[2 * i + 1]);
        tables += (i ? "," : "") + std::string(table);
        for (const char *name : kVersionStrings) {
            char query[128];
            wsprintfA(query, "\\StringFileInfo\\%s\\%s", table, name);
            char *value = NULL;
            UINT chars = 0;
            bool found = VerQueryValueA(data.data(), query, (void **)&value, &chars) && value;
            report.Set(std::string(table) + "." + name,
                       found ? FromAnsi(value) : std::wstring(L"<none>"));
        }
    }
    report.Set("translations", tables);
    return 0;
}

// Whether a file or folder exists and, for a shortcut, its target, arguments and working folder.
int ShortcutCommand(int argc, wchar_t **argv, Report &report) {
    if (argc != 4) {
        return 2;
    }
    report.Set("exists", GetFileAttributesW(argv[3]) != INVALID_FILE_ATTRIBUTES ? 1 : 0);
    CoInitialize(NULL);
    IShellLinkW *link = NULL;
    IPersistFile *file = NULL;
    if (SUCCEEDED(CoCreateInstance(CLSID_ShellLink, NULL, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                   (void **)&link)) &&
        SUCCEEDED(link->QueryInterface(IID_IPersistFile, (void **)&file)) &&
        SUCCEEDED(file->Load(argv[3], STGM_READ))) {
        wchar_t text[1024];
        if (SUCCEEDED(link->GetPath(text, 1024, NULL, SLGP_RAWPATH))) {
            report.Set("target", text);
        }
        if (SUCCEEDED(link->GetArguments(text, 1024))) {
            report.Set("args", text);
        }
        if (SUCCEEDED(link->GetWorkingDirectory(text, 1024))) {
            report.Set("workdir", text);
        }
    }
    if (file) {
        file->Release();
    }
    if (link) {
        link->Release();
    }
    CoUninitialize();
    return 0;
}

// The all-users and the user's Startup and Programs folders, the user's profile, and the Program
// Files folder of 32-bit programs, where the (x86) installer puts SLOTWARD. A 32-bit process sees
// that folder as its Program Files; the x86-64 build of the driver (the bench on 64-bit-only
// machines) has to ask for the x86 one.
int FoldersCommand(int, wchar_t **, Report &report) {
    const int programFiles32 = sizeof(void *) == 8 ? CSIDL_PROGRAM_FILESX86 : CSIDL_PROGRAM_FILES;
    const struct {
        const char *key;
        int folder;
    } kFolders[] = {{"startup", CSIDL_COMMON_STARTUP}, {"programs", CSIDL_COMMON_PROGRAMS},
                    {"userstartup", CSIDL_STARTUP},    {"userprograms", CSIDL_PROGRAMS},
                    {"profile", CSIDL_PROFILE},        {"programfiles", programFiles32}};
    for (const auto &entry : kFolders) {
        wchar_t path[MAX_PATH] = L"";
        if (SUCCEEDED(SHGetFolderPathW(NULL, entry.folder, NULL, 0, path))) {
            report.Set(entry.key, path);
        }
    }
    return 0;
}

// The installed products of an upgrade code: how many, and each one's code and version.
int ProductsCommand(int argc, wchar_t **argv, Report &report) {
    if (argc != 4) {
        return 2;
    }
    wchar_t product[39];
    DWORD count = 0;
    while (MsiEnumRelatedProductsW(argv[3], 0, count, product) == ERROR_SUCCESS) {
        count++;
        std::string key = "product" + std::to_string(count);
        report.Set(key + ".code", product);
        wchar_t version[64] = L"";
        DWORD length = 64;
        MsiGetProductInfoW(product, INSTALLPROPERTY_VERSIONSTRING, version, &length);
        report.Set(key + ".version", version);
    }
    report.Set("count", (long long)count);
    return 0;
}

// Runs a custom action's entry as Windows Installer runs a deferred one: the DLL loaded, the
// entry called with a handle of the installation's package whose CustomActionData is the given
// text, its messages written to a log. Records the entry's result.
int ActionCommand(int argc, wchar_t **argv, Report &report) {
    if (argc != 8) {
        return 2;
    }
    typedef UINT(WINAPI * Entry)(MSIHANDLE);
    MsiSetInternalUI(INSTALLUILEVEL_NONE, NULL);
    MsiEnableLogW(INSTALLLOGMODE_INFO, argv[6], 0);
    MSIHANDLE package = 0;
    UINT opened = MsiOpenPackageW(argv[5], &package);
    report.Set("package", (long long)opened);
    HMODULE module = LoadLibraryW(argv[3]);
    Entry entry = module ? reinterpret_cast<Entry>(reinterpret_cast<void (*)()>(
                               GetProcAddress(module, Narrow(argv[4]).c_str())))
                         : NULL;
    report.Set("entry", entry ? 1 : 0);
    if (opened != ERROR_SUCCESS || !entry ||
        MsiSetPropertyW(package, L"CustomActionData", argv[7]) != ERROR_SUCCESS) {
        return 0;
    }
    report.Set("result", (long long)entry(package));
    MsiCloseHandle(package);
    return 0;
}
