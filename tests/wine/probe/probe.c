/* A stand-in for the program under test, used to check the bench itself: shows the message
   boxes named on its command line, or stays resident with a hidden window, like the real one.
   probe box <style> <caption> <text> [...]   one box after another; exit code = last answer
   probe drives                              one box listing each drive's letter, type and
                                             FindFirstFileA result ("D5+": CD-ROM with files,
                                             "A2-2": removable, search failed with error 2)
   probe resident                            hidden window "SLOTWARD"; WM_QUERYENDSESSION asks
                                             a Yes/No box; 0x401 ends the loop */
#include <windows.h>

#include <stdlib.h>
#include <string.h>

static LRESULT CALLBACK ProbeWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_QUERYENDSESSION) {
        return MessageBoxA(window, "question", "probe",
                           MB_SYSTEMMODAL | MB_DEFBUTTON2 | MB_ICONERROR | MB_YESNO) == IDYES;
    }
    if (message == WM_USER + 1) {
        PostQuitMessage(0);
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

static void ShowDrives(void) {
    char text[512] = "", pattern[] = "?:*.*", root[] = "?:";
    DWORD mask = GetLogicalDrives();
    for (int n = 0; n < 26; n++) {
        WIN32_FIND_DATAA data;
        HANDLE search;
        char entry[32];
        if (!(mask & (1u << n))) {
            continue;
        }
        pattern[0] = root[0] = (char)('A' + n);
        search = FindFirstFileA(pattern, &data);
        if (search != INVALID_HANDLE_VALUE) {
            FindClose(search);
            wsprintfA(entry, "%c%u+ ", 'A' + n, GetDriveTypeA(root));
        } else {
            wsprintfA(entry, "%c%u-%lu ", 'A' + n, GetDriveTypeA(root), GetLastError());
        }
        lstrcatA(text, entry);
    }
    MessageBoxA(NULL, text, "drives", MB_OK);
}

int main(int argc, char **argv) {
    int result = 0;
    if (argc >= 2 && strcmp(argv[1], "drives") == 0) {
        ShowDrives();
        return 0;
    }
    if (argc >= 2 && strcmp(argv[1], "resident") == 0) {
        WNDCLASSA wc;
        MSG msg;
        HWND window;
        memset(&wc, 0, sizeof(wc));
        wc.lpfnWndProc = ProbeWindowProc;
        wc.lpszClassName = "SLOTWARD";
        RegisterClassA(&wc);
        window = CreateWindowExA(0, "SLOTWARD", "SLOTWARD", WS_OVERLAPPEDWINDOW, 0, 0, 0, 0, NULL,
                                 NULL, NULL, NULL);
        while (GetMessageA(&msg, NULL, 0, 0) > 0) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
        DestroyWindow(window);
        return 0;
    }
    for (int i = 2; i + 2 < argc; i += 3) /* style caption text, repeated */ {
        result = MessageBoxA(NULL, argv[i + 2], argv[i + 1], (UINT)strtoul(argv[i], NULL, 0));
    }
    return result;
}
