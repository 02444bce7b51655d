// The result file of one driver command: key=value lines in UTF-8.
#include "report.h"

namespace {
// Control characters would break the line format; shown as \n, \r, \t or \xNN instead.
std::wstring Escape(const std::wstring &value) {
    std::wstring out;
    for (wchar_t c : value) {
        if (c == L'\\') {
            out += L"\\\\";
        } else if (c == L'\n') {
            out += L"\\n";
        } else if (c == L'\r') {
            out += L"\\r";
        } else if (c == L'\t') {
            out += L"\\t";
        } else if (c < 0x20) {
            wchar_t hex[8];
            wsprintfW(hex, L"\\x%02x", (unsigned)c);
            out += hex;
        } else {
            out += c;
        }
    }
    return out;
}

const ULONGLONG gStartTick = GetTickCount64();
} // namespace

long long ElapsedMs(void) {
    return (long long)(GetTickCount64() - gStartTick);
}

std::wstring Report::Wide(const std::string &ascii) {
    return std::wstring(ascii.begin(), ascii.end());
}

std::string Report::Utf8(const std::wstring &text) {
    if (text.empty()) {
        return std::string();
    }
    int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), (int)text.size(), NULL, 0, NULL, NULL);
    std::string out(n, '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), (int)text.size(), &out[0], n, NULL, NULL);
    return out;
}

void Report::Set(const std::string &key, const std::wstring &value) {
    lines_ += key + "=" + Utf8(Escape(value)) + "\n";
}

bool Report::Write(const std::wstring &path) const {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, NULL, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE) {
        return false;
    }
    DWORD written = 0;
    BOOL ok = WriteFile(file, lines_.data(), (DWORD)lines_.size(), &written, NULL);
    CloseHandle(file);
    return ok && written == lines_.size();
}
