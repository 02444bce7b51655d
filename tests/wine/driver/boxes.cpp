// Finding, reading and answering the message boxes that another process shows.
//
// A message box is a dialog (class #32770): its text is the static control 0xFFFF, its buttons
// are the controls IDOK..IDNO, its icon is the static control 0x0440 (stc1, as in Wine's message
// box template), and MB_SYSTEMMODAL shows as WS_EX_TOPMOST. DM_GETDEFID always answers 1 under
// Wine 8, so the default button is read from the BS_DEFPUSHBUTTON button style instead.
#include "boxes.h"

#include <tlhelp32.h>

#include <cstdlib>

namespace {

const int kTextId = 0xFFFF;
const int kIconId = 0x0440;

struct Button {
    int id;
    const char *name;
};
const Button kButtons[] = {{IDOK, "ok"},       {IDCANCEL, "cancel"}, {IDABORT, "abort"},
                           {IDRETRY, "retry"}, {IDIGNORE, "ignore"}, {IDYES, "yes"},
                           {IDNO, "no"}};

struct IconKind {
    LPCWSTR resource;
    const char *name;
};
// The four message box icons; MB_ICONERROR is IDI_HAND, MB_ICONWARNING IDI_EXCLAMATION,
// MB_ICONINFORMATION IDI_ASTERISK.
const IconKind kIcons[] = {{IDI_HAND, "hand"},
                           {IDI_EXCLAMATION, "exclamation"},
                           {IDI_ASTERISK, "asterisk"},
                           {IDI_QUESTION, "question"}};

struct FindState {
    DWORD pid;
    const std::set<HWND> *seen;
    HWND found;
};

BOOL CALLBACK FindNewBox(HWND window, LPARAM param) {
    FindState *state = (FindState *)param;
    wchar_t className[16];
    if (!GetClassNameW(window, className, 16) || lstrcmpW(className, L"#32770") != 0) {
        return TRUE;
    }
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    bool ours = state->pid ? pid == state->pid : pid != GetCurrentProcessId();
    if (ours && IsWindowVisible(window) && !state->seen->count(window)) {
        state->found = window;
        return FALSE;
    }
    return TRUE;
}

std::wstring WindowText(HWND window) {
    wchar_t buffer[1024];
    buffer[0] = 0;
    GetWindowTextW(window, buffer, 1024);
    return buffer;
}

std::wstring ClassName(HWND window) {
    wchar_t buffer[256];
    buffer[0] = 0;
    GetClassNameW(window, buffer, 256);
    return buffer;
}

// Reads the pixels of a screen rectangle as 32-bit BGRX values.
std::vector<DWORD> Capture(HDC source, int x, int y, int width, int height) {
    std::vector<DWORD> pixels(width * height);
    HDC memory = CreateCompatibleDC(source);
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof(info.bmiHeader);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void *bits = NULL;
    HBITMAP bitmap = CreateDIBSection(memory, &info, DIB_RGB_COLORS, &bits, NULL, 0);
    HGDIOBJ old = SelectObject(memory, bitmap);
    BitBlt(memory, 0, 0, width, height, source, x, y, SRCCOPY);
    GdiFlush();
    const DWORD *p = (const DWORD *)bits;
    for (int i = 0; i < width * height; i++) {
        pixels[i] = p[i] & 0xFFFFFF;
    }
    SelectObject(memory, old);
    DeleteObject(bitmap);
    DeleteDC(memory);
    return pixels;
}

// Renders one of the system icons on a background colour, as the icon static paints it.
std::vector<DWORD> Render(LPCWSTR resource, DWORD background, int width, int height) {
    HDC screen = GetDC(NULL);
    HDC memory = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, width, height);
    HGDIOBJ old = SelectObject(memory, bitmap);
    COLORREF rgb = RGB((background >> 16) & 0xFF, (background >> 8) & 0xFF, background & 0xFF);
    HBRUSH brush = CreateSolidBrush(rgb);
    RECT all = {0, 0, width, height};
    FillRect(memory, &all, brush);
    DeleteObject(brush);
    DrawIconEx(memory, 0, 0, LoadIconW(NULL, resource), width, height, 0, NULL, DI_NORMAL);
    std::vector<DWORD> pixels = Capture(memory, 0, 0, width, height);
    SelectObject(memory, old);
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(NULL, screen);
    return pixels;
}

long long Distance(const std::vector<DWORD> &a, const std::vector<DWORD> &b) {
    long long sum = 0;
    for (size_t i = 0; i < a.size(); i++) {
        for (int shift = 0; shift < 24; shift += 8) {
            sum += std::abs((int)((a[i] >> shift) & 0xFF) - (int)((b[i] >> shift) & 0xFF));
        }
    }
    return sum;
}

// Icon handles are private to their process, so the icon static's STM_GETICON cannot be compared
// with our own LoadIcon: the icon is recognised instead by comparing the pixels on screen with
// each of the four system icons drawn here. Only a near-exact match counts.
std::string ClassifyIcon(HWND box) {
    HWND icon = GetDlgItem(box, kIconId);
    if (!icon || !IsWindowVisible(icon) || !SendMessageW(icon, STM_GETICON, 0, 0)) {
        return "none";
    }
    RECT r;
    GetWindowRect(icon, &r);
    int width = r.right - r.left, height = r.bottom - r.top;
    if (width <= 0 || height <= 0 || width > 256 || height > 256) {
        return "unknown";
    }
    for (int attempt = 0; attempt < 25; attempt++) {
        RedrawWindow(icon, NULL, NULL, RDW_INVALIDATE | RDW_UPDATENOW);
        Sleep(20);
        HDC screen = GetDC(NULL);
        std::vector<DWORD> shown = Capture(screen, r.left, r.top, width, height);
        ReleaseDC(NULL, screen);
        const char *best = NULL;
        long long bestDistance = -1;
        for (const IconKind &kind : kIcons) {
            long long d = Distance(shown, Render(kind.resource, shown[0], width, height));
            if (bestDistance < 0 || d < bestDistance) {
                bestDistance = d;
                best = kind.name;
            }
        }
        // At most an average of 2 levels per channel off: rounding in the blending, not a shape.
        if (bestDistance <= (long long)width * height * 6) {
            return best;
        }
    }
    return "unknown";
}

void ReadBox(HWND box, DWORD pid, Report &report, const std::string &prefix) {
    report.Set(prefix + "ms", ElapsedMs());
    report.Set(prefix + "process", ProcessName(pid));
    report.Set(prefix + "caption", WindowText(box));
    wchar_t text[2048];
    text[0] = 0;
    GetDlgItemTextW(box, kTextId, text, 2048);
    report.Set(prefix + "text", text);
    std::string buttons, defaults;
    for (const Button &b : kButtons) {
        HWND button = GetDlgItem(box, b.id);
        if (!button || !IsWindowVisible(button)) {
            continue;
        }
        buttons += (buttons.empty() ? "" : ",") + std::string(b.name);
        if ((GetWindowLongW(button, GWL_STYLE) & 0x0F) == BS_DEFPUSHBUTTON) {
            defaults += (defaults.empty() ? "" : ",") + std::string(b.name);
        }
    }
    report.Set(prefix + "buttons", buttons);
    report.Set(prefix + "default", defaults);
    report.Set(prefix + "icon", ClassifyIcon(box));
    report.Set(prefix + "topmost", (GetWindowLongW(box, GWL_EXSTYLE) & WS_EX_TOPMOST) ? 1 : 0);
    HWND owner = GetWindow(box, GW_OWNER);
    report.Set(prefix + "owner", owner ? ClassName(owner) : std::wstring(L"none"));
}

bool Press(HWND box, const std::string &name) {
    for (const Button &b : kButtons) {
        // Wine's box ends with any id it is sent, so only a button that exists is pressed.
        if (name == b.name && GetDlgItem(box, b.id)) {
            return PostMessageW(box, WM_COMMAND, b.id, 0) != 0;
        }
    }
    return false;
}

} // namespace

std::vector<std::string> ParsePressList(const std::string &text) {
    std::vector<std::string> list;
    if (text == "none") {
        return list;
    }
    size_t start = 0;
    while (start <= text.size()) {
        size_t comma = text.find(',', start);
        if (comma == std::string::npos) {
            comma = text.size();
        }
        list.push_back(text.substr(start, comma - start));
        start = comma + 1;
    }
    return list;
}

std::wstring ProcessPath(DWORD pid) {
    std::wstring path = L"?";
    HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
    wchar_t buffer[MAX_PATH];
    DWORD size = MAX_PATH;
    if (process && QueryFullProcessImageNameW(process, 0, buffer, &size)) {
        path = buffer;
    }
    if (process) {
        CloseHandle(process);
    }
    return path;
}

std::wstring ProcessName(DWORD pid) {
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    std::wstring name = L"?";
    PROCESSENTRY32W entry;
    entry.dwSize = sizeof(entry);
    for (BOOL ok = Process32FirstW(snapshot, &entry); ok; ok = Process32NextW(snapshot, &entry)) {
        if (entry.th32ProcessID == pid) {
            name = entry.szExeFile;
            break;
        }
    }
    CloseHandle(snapshot);
    return name;
}

int BoxWatcher::Poll(Report &report) {
    int handled = 0;
    for (;;) {
        FindState state = {pid_, &seen_, NULL};
        EnumWindows(FindNewBox, (LPARAM)&state);
        if (!state.found) {
            return handled;
        }
        HWND box = state.found;
        seen_.insert(box);
        Sleep(30); // let the box finish painting before its icon is captured
        DWORD pid = 0;
        GetWindowThreadProcessId(box, &pid);
        std::string prefix = "box" + std::to_string(++count_) + ".";
        ReadBox(box, pid, report, prefix);
        if (holding_) {
            held_.push_back(box);
        } else {
            PressNumbered(box, count_, report);
        }
        lastActivityMs_ = ElapsedMs();
        handled++;
    }
}

void BoxWatcher::PressNumbered(HWND box, int number, Report &report) {
    std::string prefix = "box" + std::to_string(number) + ".";
    std::string press = number <= (int)presses_.size() ? presses_[number - 1] : "none";
    report.Set(prefix + "pressed", press);
    if (press != "none" && !Press(box, press)) {
        report.Set(prefix + "press_failed", 1);
    }
}

void BoxWatcher::Release(Report &report) {
    holding_ = false;
    for (size_t i = 0; i < held_.size(); i++) {
        if (IsWindow(held_[i])) {
            PressNumbered(held_[i], count_ - (int)held_.size() + (int)i + 1, report);
        }
    }
    held_.clear();
    lastActivityMs_ = ElapsedMs();
}

int BoxWatcher::OpenCount(void) {
    int open = 0;
    for (HWND box : seen_) {
        if (IsWindow(box) && IsWindowVisible(box)) {
            open++;
        }
    }
    return open;
}

bool BoxWatcher::AnyOpen(void) {
    return OpenCount() > 0;
}
