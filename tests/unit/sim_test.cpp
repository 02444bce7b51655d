// Tests of the simulated platform itself, on the behaviour the program's tests lean on: event
// and mutex semantics, memory accounting, failure injection, files and folders, drive probes,
// message boxes, cross-thread messages and Reset.
#include "fixture.h"

#include <algorithm>
#include <atomic>
#include <string>
#include <chrono>
#include <thread>

namespace {

class SimPlatform : public SimTest {};

// Polls until `done` holds or a second has passed.
template <typename Done> bool Eventually(Done done) {
    for (int i = 0; i < 100 && !done(); i++)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    return done();
}

struct Waiter {
    HANDLE event;
    std::atomic<int> released{0};
    std::atomic<DWORD> lastResult{0};
};

DWORD WINAPI WaitOnEvent(LPVOID parameter) {
    Waiter *waiter = static_cast<Waiter *>(parameter);
    DWORD result = WaitForSingleObject(waiter->event, INFINITE);
    waiter->lastResult = result;
    if (result == WAIT_OBJECT_0)
        waiter->released++;
    return 0;
}

TEST_F(SimPlatform, NamedEventIsSharedByNameAndForgottenWithItsLastHandle) {
    HANDLE first = CreateEventA(NULL, FALSE, FALSE, "ev");
    EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
    HANDLE second = CreateEventA(NULL, TRUE, TRUE, "ev");
    EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
    HANDLE opened = OpenEventA(EVENT_ALL_ACCESS, FALSE, "ev");
    ASSERT_TRUE(first && second && opened);
    EXPECT_TRUE(first != second && second != opened);
    EXPECT_FALSE(sim::EventSignalled("ev")) << "a second create must not change the state";
    SetEvent(opened);
    EXPECT_EQ(WaitForSingleObject(first, 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(second, 0), WAIT_TIMEOUT) << "auto-reset after one release";
    CloseHandle(first);
    CloseHandle(second);
    EXPECT_TRUE(sim::NamedEventExists("ev"));
    // Another process's handles, its threads' included, close when it ends; ours keeps the name.
    int other = sim::NewProcess();
    sim::RunInProcess(other, [] {
        OpenEventA(EVENT_ALL_ACCESS, FALSE, "ev");
        CreateThread(
            NULL, 0, [](LPVOID) -> DWORD { return OpenEventA(0, FALSE, "ev") ? 0 : 1; }, NULL, 0,
            NULL);
    });
    EXPECT_TRUE(Eventually([] { return sim::OpenHandles() == 4; }));
    sim::EndProcess(other);
    EXPECT_EQ(sim::OpenHandles(), 1);
    EXPECT_TRUE(sim::NamedEventExists("ev"));
    CloseHandle(opened);
    EXPECT_FALSE(sim::NamedEventExists("ev"));
    EXPECT_EQ(OpenEventA(EVENT_ALL_ACCESS, FALSE, "ev"), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
    // One of another process with other rights: unseen once, then out of reach.
    sim::AddElevatedEvent("ev", 1);
    const DWORD wanted[] = {ERROR_FILE_NOT_FOUND, ERROR_ACCESS_DENIED};
    for (DWORD error : wanted) {
        EXPECT_EQ(OpenEventA(EVENT_ALL_ACCESS, FALSE, "ev"), nullptr);
        EXPECT_EQ(GetLastError(), error);
    }
    EXPECT_EQ(CreateEventA(NULL, FALSE, FALSE, "ev"), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    ExpectNothingLeaked();
}

TEST_F(SimPlatform, AutoResetEventReleasesOneWaiterPerSignal) {
    Waiter waiter;
    waiter.event = CreateEventA(NULL, FALSE, FALSE, "ev");
    HANDLE threads[2];
    for (HANDLE &thread : threads)
        thread = CreateThread(NULL, 4096, WaitOnEvent, &waiter, 0, NULL);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    SetEvent(waiter.event);
    EXPECT_TRUE(Eventually([&] { return waiter.released == 1; }));
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(waiter.released, 1);
    EXPECT_FALSE(sim::EventSignalled("ev"));
    SetEvent(waiter.event);
    for (HANDLE thread : threads) {
        EXPECT_EQ(WaitForSingleObject(thread, 2000), WAIT_OBJECT_0);
        CloseHandle(thread);
    }
    EXPECT_EQ(waiter.released, 2);
    CloseHandle(waiter.event);
    ExpectNothingLeaked();
}

DWORD WINAPI WaitForMessage(LPVOID parameter) {
    MSG msg;
    *static_cast<std::atomic<BOOL> *>(parameter) = GetMessageA(&msg, NULL, 0, 0);
    return 0;
}

TEST_F(SimPlatform, ResetWakesBlockedThreadsWithFailure) {
    Waiter waiter;
    waiter.event = CreateEventA(NULL, FALSE, FALSE, NULL);
    CreateThread(NULL, 0, WaitOnEvent, &waiter, 0, NULL);
    // A program thread, so that Reset joins it however late it reaches GetMessageA: a plain
    // thread that got there only after the reset would wait for ever.
    std::atomic<BOOL> got{0};
    CreateThread(NULL, 0, WaitForMessage, &got, 0, NULL);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    sim::Reset(); // joins both sim threads; returns only once they have ended
    EXPECT_EQ(waiter.lastResult, WAIT_FAILED);
    EXPECT_EQ(got, -1);
    ExpectNothingLeaked();
}

TEST_F(SimPlatform, MutexCountsRecursionAndRefusesAnotherThreadsRelease) {
    HANDLE mutex = CreateMutexA(NULL, TRUE, NULL);
    EXPECT_EQ(WaitForSingleObject(mutex, 0), WAIT_OBJECT_0);
    BOOL releasedElsewhere = TRUE;
    std::thread([&] { releasedElsewhere = ReleaseMutex(mutex); }).join();
    EXPECT_FALSE(releasedElsewhere);
    ASSERT_EQ(sim::Problems().size(), 1u);
    EXPECT_TRUE(ReleaseMutex(mutex));
    DWORD other = 0;
    std::thread([&] { other = WaitForSingleObject(mutex, 0); }).join();
    EXPECT_EQ(other, WAIT_TIMEOUT) << "still held once";
    EXPECT_TRUE(ReleaseMutex(mutex));
    std::thread([&] { other = WaitForSingleObject(mutex, 0); }).join();
    EXPECT_EQ(other, WAIT_OBJECT_0);
    CloseHandle(mutex);
    sim::Reset(); // the expected problem
}

TEST_F(SimPlatform, GlobalMemoryLocksAndFreesLikeWindows) {
    HGLOBAL zeroed = GlobalAlloc(GHND, 8), garbage = GlobalAlloc(GMEM_MOVEABLE, 8);
    unsigned char *bytes = static_cast<unsigned char *>(GlobalLock(zeroed));
    ASSERT_NE(bytes, nullptr);
    EXPECT_NE(static_cast<void *>(bytes), zeroed);
    EXPECT_EQ(bytes[7], 0);
    EXPECT_EQ(static_cast<unsigned char *>(GlobalLock(garbage))[0], 0xCD);
    EXPECT_EQ(GlobalLock(zeroed), bytes);
    EXPECT_EQ(sim::LockedGlobalBlocks(), 2);
    EXPECT_TRUE(GlobalUnlock(zeroed)) << "one lock left";
    EXPECT_FALSE(GlobalUnlock(zeroed));
    EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
    EXPECT_FALSE(GlobalUnlock(garbage));
    EXPECT_EQ(sim::LiveGlobalBlocks(), 2);
    EXPECT_EQ(sim::LockedGlobalBlocks(), 0);
    EXPECT_EQ(GlobalFree(zeroed), nullptr);
    EXPECT_EQ(GlobalFree(garbage), nullptr);
    ExpectNothingLeaked();
    EXPECT_TRUE(sim::Problems().empty());
    EXPECT_EQ(GlobalFree(zeroed), zeroed);
    EXPECT_EQ(GlobalLock(garbage), nullptr);
    EXPECT_EQ(sim::Problems().size(), 2u);
    sim::Reset();
}

TEST_F(SimPlatform, FailureInjectionCountsFromWhenItIsSet) {
    HGLOBAL before = GlobalAlloc(GMEM_MOVEABLE, 4);
    sim::FailCall(sim::Api::GlobalAlloc, 2);
    HGLOBAL first = GlobalAlloc(GMEM_MOVEABLE, 4);
    EXPECT_EQ(GlobalAlloc(GMEM_MOVEABLE, 4), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_NOT_ENOUGH_MEMORY);
    HGLOBAL after = GlobalAlloc(GMEM_MOVEABLE, 4);
    EXPECT_TRUE(before && first && after) << "only the nth call fails";
    EXPECT_EQ(sim::Calls(sim::Api::GlobalAlloc), 4);
    for (HGLOBAL block : {before, first, after})
        GlobalFree(block);
    sim::FailCall(sim::Api::MessageBoxA, 1, true);
    for (int i = 0; i < 2; i++)
        EXPECT_EQ(MessageBoxA(NULL, "t", "c", MB_OK), 0);
    ASSERT_EQ(sim::Boxes().size(), 2u);
    EXPECT_EQ(sim::Boxes()[1].answer, 0);
    ExpectNothingLeaked();
}

// A buffer that cannot take the path and its terminator: XP returns its size with the path cut
// and unterminated, Vista and later terminate the cut path and say so.
TEST_F(SimPlatform, ModulePathIsCutAsEachSystemCutsIt) {
    sim::SetModulePath(u"C:\\ツール\\SW.EXE");
    const struct {
        sim::System system;
        DWORD size, result;
        std::u16string text; // the buffer's first `size` units
        DWORD error;
    } rows[] = {
        {sim::System::WindowsVista, 14, 13, std::u16string(u"C:\\ツール\\SW.EXE\0", 14), 0},
        {sim::System::WindowsXp, 13, 13, u"C:\\ツール\\SW.EXE", 0},
        {sim::System::WindowsVista, 13, 13, std::u16string(u"C:\\ツール\\SW.EX\0", 13),
         ERROR_INSUFFICIENT_BUFFER},
        {sim::System::Windows2000, 3, 3, u"C:\\", 0},
    };
    for (const auto &row : rows) {
        sim::SetSystem(row.system);
        WCHAR buffer[20];
        std::fill(buffer, buffer + 20, u'#');
        SetLastError(0);
        EXPECT_EQ(GetModuleFileNameW(NULL, buffer, row.size), row.result) << row.size;
        EXPECT_TRUE(std::u16string(buffer, row.size) == row.text) << row.size;
        EXPECT_EQ(buffer[row.size], u'#') << "written past the buffer";
        EXPECT_EQ(GetLastError(), row.error) << row.size;
    }
}

// The file system holds UTF-16 names: an ANSI name reaches the file its code page spells, and a
// wide name reaches a file that no ANSI name can.
TEST_F(SimPlatform, WideAndAnsiNamesReachTheSameFiles) {
    sim::SetCodePages(932, 932);
    sim::AddFile("C:\\\x95\x5C\\A.CFG", "sjis");
    sim::AddFileW(u"C:\\Ü\\b.cfg", "latin");
    auto readW = [](const std::u16string &name) {
        HANDLE file = CreateFileW(name.c_str(), GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, NULL);
        if (file == INVALID_HANDLE_VALUE)
            return std::string("error ") + std::to_string(GetLastError());
        char text[8];
        DWORD read = 0;
        ReadFile(file, text, sizeof text, &read, NULL);
        CloseHandle(file);
        return std::string(text, read);
    };
    EXPECT_EQ(readW(u"c:\\表\\a.cfg"), "sjis");
    EXPECT_EQ(readW(u"C:/Ü/B.CFG"), "latin");
    EXPECT_EQ(readW(u"C:\\U\\B.CFG"), "error 2");
    sim::SetCurrentDirectory("C:\\\x95\x5C");
    EXPECT_EQ(readW(u"A.CFG"), "sjis");
    EXPECT_EQ(CreateFileA("C:\\?\\B.CFG", GENERIC_READ, 0, NULL, OPEN_EXISTING, 0, NULL),
              INVALID_HANDLE_VALUE);
    EXPECT_EQ(sim::CreateFileWLog().size(), 4u);
    ExpectNothingLeaked();
}

TEST_F(SimPlatform, FoldersOfTheSystemAndTheCurrentOne) {
    char folder[32];
    EXPECT_EQ(GetSystemDirectoryA(folder, sizeof folder), 19u);
    EXPECT_STREQ(folder, "C:\\WINDOWS\\system32");
    EXPECT_EQ(GetSystemDirectoryA(folder, 19), 20u) << "the size needed";
    EXPECT_TRUE(SetCurrentDirectoryA(folder));
    EXPECT_EQ(sim::CurrentDirectory(), "C:\\WINDOWS\\system32");
    sim::FailCall(sim::Api::SetCurrentDirectoryA, 1);
    EXPECT_FALSE(SetCurrentDirectoryA("D:\\"));
    EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);
    EXPECT_EQ(sim::CurrentDirectory(), "C:\\WINDOWS\\system32");
}

// Waiting on a handle that another thread closes is undefined on Windows: a problem here.
TEST_F(SimPlatform, ClosingAHandleSomeoneWaitsOnIsAProblem) {
    Waiter waiter;
    waiter.event = CreateEventA(NULL, FALSE, FALSE, NULL);
    HANDLE thread = CreateThread(NULL, 0, WaitOnEvent, &waiter, 0, NULL);
    ASSERT_TRUE(Eventually([&] { return sim::WaitingThreads(waiter.event) == 1; }));
    CloseHandle(waiter.event);
    ASSERT_EQ(sim::Problems().size(), 1u);
    EXPECT_NE(sim::Problems()[0].find("while a thread waits on it"), std::string::npos);
    CloseHandle(thread);
    sim::Reset(); // the waiter wakes with a failure; the problem was the point
}

TEST_F(SimPlatform, FilesOpenCaseBlindRelativeToTheCurrentDirectory) {
    sim::SetCurrentDirectory("C:\\Prog");
    sim::AddFile("SLOTWARD.CFG", "/F\r\nA:");
    HANDLE file = CreateFileA("c:\\prog\\slotward.cfg", GENERIC_READ, FILE_SHARE_READ, NULL,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    char text[8] = {};
    DWORD read = 0;
    EXPECT_TRUE(ReadFile(file, text, 4, &read, NULL));
    EXPECT_EQ(std::string(text, read), "/F\r\n");
    EXPECT_TRUE(ReadFile(file, text, 8, &read, NULL));
    EXPECT_EQ(std::string(text, read), "A:");
    CloseHandle(file);
    EXPECT_EQ(CreateFileA("X.CFG", GENERIC_READ, 0, NULL, OPEN_EXISTING, 0, NULL),
              INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(sim::CreateFileLog().back(), "X.CFG");
    ExpectNothingLeaked();
}

TEST_F(SimPlatform, DriveProbesGiveTheMediumsErrorCode) {
    sim::AddDrive('a', DRIVE_REMOVABLE, sim::Medium::None);
    sim::AddDrive('C', DRIVE_FIXED);
    sim::AddDrive('D', DRIVE_CDROM, sim::Medium::EmptyFormatted);
    sim::AddDrive('E', DRIVE_REMOVABLE, sim::Medium::Failing, ERROR_CRC);
    EXPECT_EQ(GetLogicalDrives(), 0x1Du);
    struct Row {
        const char *pattern;
        DWORD error; // 0: the search succeeds
    } rows[] = {{"A:*.*", ERROR_NOT_READY},
                {"c:*.*", 0},
                {"D:*.*", ERROR_FILE_NOT_FOUND},
                {"E:*.*", ERROR_CRC},
                {"F:*.*", ERROR_PATH_NOT_FOUND}};
    for (const Row &row : rows) {
        WIN32_FIND_DATAA data;
        HANDLE search = FindFirstFileA(row.pattern, &data);
        EXPECT_EQ(search == INVALID_HANDLE_VALUE, row.error != 0) << row.pattern;
        if (search == INVALID_HANDLE_VALUE) {
            EXPECT_EQ(GetLastError(), row.error) << row.pattern;
            continue;
        }
        EXPECT_EQ(sim::OpenHandles(), 1);
        EXPECT_TRUE(FindClose(search));
    }
    EXPECT_EQ(sim::CriticalErrorDialogs(), 1);
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
    WIN32_FIND_DATAA data;
    FindFirstFileA("A:*.*", &data);
    EXPECT_EQ(sim::CriticalErrorDialogs(), 1);
    EXPECT_EQ(sim::Probes('A'), 2);
    EXPECT_EQ(GetDriveTypeA("d:"), DRIVE_CDROM);
    EXPECT_EQ(GetDriveTypeA("D:\\"), DRIVE_CDROM);
    EXPECT_EQ(GetDriveTypeA("Q:"), DRIVE_NO_ROOT_DIR);
    EXPECT_EQ(sim::TypeQueries('D'), 2);
    EXPECT_EQ(sim::TypeQueryRoots().front(), "d:");
    ExpectNothingLeaked();
}

// A device opens only as "\\.\X:" of an existing drive, and only with no access rights and
// shared use; a short answer still reports the whole descriptor's size.
TEST_F(SimPlatform, DevicesOpenWithoutRightsAndAnswerTheirBus) {
    sim::AddDrive('E', DRIVE_FIXED);
    sim::SetDevice('E', {BusTypeUsb, FALSE, TRUE, 0, 0, 8});
    const DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE;
    const struct {
        const char *path;
        DWORD access, share, error; // error 0: opened
        size_t problems;
    } rows[] = {{"\\\\.\\e:", 0, share, 0, 0},
                {"\\\\.\\F:", 0, share, ERROR_FILE_NOT_FOUND, 0},
                {"\\\\.\\E:", GENERIC_READ, share, 0, 1},
                {"\\\\.\\E:", 0, FILE_SHARE_READ, 0, 2}};
    for (const auto &row : rows) {
        HANDLE device = CreateFileA(row.path, row.access, row.share, NULL, OPEN_EXISTING, 0, NULL);
        EXPECT_EQ(device == INVALID_HANDLE_VALUE, row.error != 0) << row.path;
        EXPECT_EQ(sim::Problems().size(), row.problems) << row.path;
        if (device == INVALID_HANDLE_VALUE) {
            EXPECT_EQ(GetLastError(), row.error) << row.path;
            continue;
        }
        STORAGE_PROPERTY_QUERY query = {StorageDeviceProperty, PropertyStandardQuery, {0}};
        STORAGE_DEVICE_DESCRIPTOR descriptor;
        DWORD returned = 0;
        EXPECT_TRUE(DeviceIoControl(device, IOCTL_STORAGE_QUERY_PROPERTY, &query, sizeof query,
                                    &descriptor, sizeof descriptor, &returned, NULL));
        EXPECT_EQ(returned, 8u);
        EXPECT_GT(descriptor.Size, sizeof descriptor);
        STORAGE_HOTPLUG_INFO info;
        EXPECT_TRUE(DeviceIoControl(device, IOCTL_STORAGE_GET_HOTPLUG_INFO, NULL, 0, &info,
                                    sizeof info, &returned, NULL));
        EXPECT_EQ(info.DeviceHotplug, TRUE);
        CloseHandle(device);
    }
    EXPECT_EQ(sim::DeviceOpens('E'), 3);
    EXPECT_EQ(sim::DeviceQueries('E'), 6);
    sim::Reset(); // the expected problems
}

TEST_F(SimPlatform, LeadBytesFollowTheAnsiCodePage) {
    EXPECT_FALSE(IsDBCSLeadByte(0x81));
    sim::SetCodePages(932, 932);
    for (int c : {0x81, 0x9F, 0xE0, 0xFC})
        EXPECT_TRUE(IsDBCSLeadByte(static_cast<BYTE>(c))) << c;
    for (int c : {0x5C, 0x80, 0xA0, 0xDF, 0xFD})
        EXPECT_FALSE(IsDBCSLeadByte(static_cast<BYTE>(c))) << c;
    EXPECT_EQ(GetOEMCP(), 932u);
}

TEST_F(SimPlatform, BoxAnswersComeFromTheHookThenTheScript) {
    sim::ScriptBoxAnswers({IDYES});
    EXPECT_EQ(MessageBoxA(NULL, "q\x82\xa0", "cap", MB_YESNO), IDYES);
    EXPECT_EQ(sim::Boxes()[0].text, "q\x82\xa0");
    EXPECT_EQ(sim::Boxes()[0].threadId, GetCurrentThreadId());
    sim::OnBox([](const sim::Box &box) { return box.style == MB_YESNO ? IDNO : IDOK; });
    EXPECT_EQ(MessageBoxA(NULL, "t", "c", MB_YESNO), IDNO);
    EXPECT_EQ(sim::Boxes()[1].answer, IDNO);
    sim::OnBox(nullptr);
    EXPECT_EQ(MessageBoxA(NULL, "lost", "c", MB_OK), 0);
    ASSERT_EQ(sim::Problems().size(), 1u);
    EXPECT_EQ(sim::Problems()[0], "unscripted message box: lost");
    sim::Reset();
}

// A window procedure that logs every message and answers WM_USER with twice its wParam.
std::vector<UINT> gSeen;
LRESULT gCreateAnswer;
std::atomic<int> gPostedRan{0};

LRESULT CALLBACK LoggingProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    gSeen.push_back(message);
    if (message == WM_CREATE)
        return gCreateAnswer;
    if (message == WM_USER)
        return static_cast<LRESULT>(wParam * 2);
    if (message == WM_USER + 5)
        return SendMessageA(reinterpret_cast<HWND>(wParam), WM_USER, 5, 0) + 1;
    if (message == WM_USER + 7)
        PostQuitMessage(7);
    if (message == WM_USER + 2)
        gPostedRan++;
    return DefWindowProcA(window, message, wParam, lParam);
}

HWND MakeWindow() {
    return CreateWindowExA(0, "LOG", "t", WS_OVERLAPPEDWINDOW, 0, 0, 0, 0, NULL, NULL, NULL, NULL);
}

// Owns a window of its own and sends to the main thread's window, whose procedure sends back:
// the reply must run while this thread is blocked in its own SendMessageA.
std::atomic<LRESULT> gCrossAnswer;

DWORD WINAPI SendBackAndForth(LPVOID parameter) {
    HWND own = CreateWindowExA(0, "LOG", "own", 0, 0, 0, 0, 0, NULL, NULL, NULL, NULL);
    gCrossAnswer =
        SendMessageA(static_cast<HWND>(parameter), WM_USER + 5, reinterpret_cast<WPARAM>(own), 0);
    DestroyWindow(own);
    PostMessageA(static_cast<HWND>(parameter), WM_USER + 1, 0, 0); // ends the loop below
    return 0;
}

DWORD WINAPI SendThenPost(LPVOID parameter) {
    HWND window = static_cast<HWND>(parameter);
    LRESULT answer = SendMessageA(window, WM_USER, 21, 0);
    PostMessageA(window, WM_USER + 1, static_cast<WPARAM>(answer), 0);
    return 0;
}

// A window of the logging class, registered on first use, whose creation succeeds.
HWND MakeLoggingWindow() {
    WNDCLASSA wc = {};
    wc.lpfnWndProc = LoggingProc;
    wc.lpszClassName = "LOG";
    RegisterClassA(&wc);
    gCreateAnswer = 0;
    return MakeWindow();
}

TEST_F(SimPlatform, WindowsLiveFromCreateToDestroy) {
    WNDCLASSA wc = {};
    wc.lpfnWndProc = LoggingProc;
    wc.lpszClassName = "LOG";
    EXPECT_NE(RegisterClassA(&wc), 0);
    EXPECT_EQ(RegisterClassA(&wc), 0);
    EXPECT_EQ(GetLastError(), ERROR_CLASS_ALREADY_EXISTS);
    gSeen.clear();
    gCreateAnswer = -1;
    EXPECT_EQ(MakeWindow(), nullptr);
    EXPECT_EQ(gSeen, (std::vector<UINT>{WM_NCCREATE, WM_CREATE, WM_DESTROY, WM_NCDESTROY}));
    gCreateAnswer = 0;
    HWND window = MakeWindow();
    EXPECT_EQ(FindWindowA("log", NULL), window);
    EXPECT_EQ(SendMessageA(window, WM_CLOSE, 0, 0), 0);
    EXPECT_FALSE(IsWindow(window));
    EXPECT_EQ(sim::LiveWindows(), 0);
    EXPECT_EQ(PostMessageA(window, WM_USER, 0, 0), FALSE);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_WINDOW_HANDLE);
}

TEST_F(SimPlatform, MessageLoopAnswersSendsAndEndsAfterPostedMessages) {
    HWND window = MakeLoggingWindow();
    HANDLE sender = CreateThread(NULL, 0, SendThenPost, window, 0, NULL);
    MSG msg;
    ASSERT_EQ(GetMessageA(&msg, NULL, 0, 0), TRUE);
    EXPECT_EQ(msg.message, WM_USER + 1u);
    EXPECT_EQ(msg.wParam, 42u) << "the sent message ran inside GetMessageA";
    PostMessageA(window, WM_USER + 2, 0, 0);
    PostQuitMessage(3);
    PostMessageA(NULL, WM_USER + 3, 0, 0);
    for (UINT expected : {WM_USER + 2, WM_USER + 3}) {
        EXPECT_EQ(GetMessageA(&msg, NULL, 0, 0), TRUE);
        EXPECT_EQ(msg.message, expected);
    }
    EXPECT_EQ(GetMessageA(&msg, NULL, 0, 0), FALSE);
    EXPECT_EQ(msg.message, WM_QUIT);
    EXPECT_EQ(msg.wParam, 3u);
    EXPECT_EQ(WaitForSingleObject(sender, 2000), WAIT_OBJECT_0);
    CloseHandle(sender);
    EXPECT_TRUE(DestroyWindow(window));
    ExpectNothingLeaked();
}

// How a box left open ends once its loop has run a message sent from another thread and one
// posted to its owner: by a button's command, a quit request (left for the outer loop, here
// posted by the owner's procedure for WM_USER + 7), or its owner's end.
struct OpenBoxCase {
    const char *name;
    UINT message; // posted by the other thread: WM_COMMAND to the box, else to the owner
    int wantedAnswer;
};

const OpenBoxCase kOpenBoxCases[] = {
    {"Button", WM_COMMAND, IDNO}, {"Quit", WM_USER + 7, 0}, {"OwnerDestroyed", WM_CLOSE, 0}};

TEST_F(SimPlatform, OpenBoxRunsItsOwnLoopUntilButtonQuitOrOwnerEnd) {
    for (const OpenBoxCase &c : kOpenBoxCases) {
        sim::Reset();
        HWND owner = MakeLoggingWindow();
        gPostedRan = 0;
        sim::ScriptBoxAnswers({sim::kKeepOpen});
        std::thread other([&] {
            EXPECT_TRUE(Eventually([] { return sim::Boxes().size() == 1; })) << c.name;
            EXPECT_EQ(SendMessageA(owner, WM_USER, 4, 0), 8) << c.name;
            PostMessageA(owner, WM_USER + 2, 0, 0);
            EXPECT_TRUE(Eventually([] { return gPostedRan == 1; })) << c.name;
            bool toBox = c.message == WM_COMMAND;
            PostMessageA(toBox ? sim::Boxes()[0].window : owner, c.message, IDNO, 0);
        });
        EXPECT_EQ(MessageBoxA(owner, "t", "c", MB_YESNO), c.wantedAnswer) << c.name;
        other.join();
        EXPECT_FALSE(IsWindow(sim::Boxes()[0].window)) << c.name;
        MSG msg;
        if (c.message == WM_USER + 7) {
            EXPECT_EQ(GetMessageA(&msg, NULL, 0, 0), FALSE) << "the quit stays for the outer loop";
        }
        if (IsWindow(owner))
            DestroyWindow(owner);
        ExpectNothingLeaked();
    }
}

TEST_F(SimPlatform, ThreadsSendingToEachOtherDoNotDeadlock) {
    HWND window = MakeLoggingWindow();
    gCrossAnswer = 0;
    HANDLE sender = CreateThread(NULL, 0, SendBackAndForth, window, 0, NULL);
    MSG msg;
    EXPECT_EQ(GetMessageA(&msg, NULL, 0, 0), TRUE);
    EXPECT_EQ(WaitForSingleObject(sender, 2000), WAIT_OBJECT_0);
    EXPECT_EQ(gCrossAnswer, 11);
    CloseHandle(sender);
    DestroyWindow(window);
    ExpectNothingLeaked();
}

struct WideCase {
    UINT ansi;
    const char *bytes;
    int length; // -1: up to and with the terminator
    std::u16string wide;
};

TEST_F(SimPlatform, MultiByteToWideCharFollowsTheAnsiCodePage) {
    const WideCase cases[] = {
        {1252, "A\x80\x96\xE9", -1, std::u16string(u"A\u20AC\u2013\u00E9", 5)},
        {1252, "\x81\x9F", 2, u"\u0081\u0178"},
        // あ, the backslash, half-width ｱ; a lead byte whose pair is cut, and one that is unmapped
        {932, "\x82\xA0\x5C\xB1", 4, u"\u3042\\\uFF71"},
        {932, "a\x82", 2, u"a\u30FB"},
        {932, "\x85\x40", 2, u"\u30FB"},
    };
    for (const WideCase &c : cases) {
        sim::SetCodePages(c.ansi == 932 ? 932 : 437, c.ansi);
        WCHAR wide[8];
        int size = static_cast<int>(c.wide.size());
        EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, c.bytes, c.length, NULL, 0), size) << c.bytes;
        EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, c.bytes, c.length, wide, 8), size) << c.bytes;
        EXPECT_TRUE(std::u16string(wide, static_cast<size_t>(size)) == c.wide) << c.bytes;
        if (size > 1) { // a capacity of 0 would ask for the size
            EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, c.bytes, c.length, wide, size - 1), 0);
            EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
        }
    }
    EXPECT_EQ(MultiByteToWideChar(1252, 0, "\x80", 1, NULL, 0), 1) << "an explicit code page";
}

// Back to the ANSI code page; a character it cannot spell becomes '?'.
TEST_F(SimPlatform, WideCharToMultiByteFollowsTheAnsiCodePage) {
    const struct {
        UINT ansi;
        std::u16string wide;
        std::string bytes;
    } cases[] = {
        {1252, u"A\u20AC\u2013\u00E9\u0081", "A\x80\x96\xE9\x81"},
        {1252, u"\u3042", "?"},
        {932, u"\u3042\\\uFF71\u00E9", "\x82\xA0\x5C\xB1?"},
    };
    for (const auto &c : cases) {
        sim::SetCodePages(c.ansi == 932 ? 932 : 437, c.ansi);
        int units = static_cast<int>(c.wide.size());
        int size = static_cast<int>(c.bytes.size());
        char text[8];
        EXPECT_EQ(WideCharToMultiByte(CP_ACP, 0, c.wide.data(), units, NULL, 0, NULL, NULL), size);
        EXPECT_EQ(WideCharToMultiByte(CP_ACP, 0, c.wide.data(), units, text, 8, NULL, NULL), size);
        EXPECT_EQ(std::string(text, static_cast<size_t>(size)), c.bytes) << Hex(c.bytes);
        if (size > 1) {
            EXPECT_EQ(
                WideCharToMultiByte(CP_ACP, 0, c.wide.data(), units, text, size - 1, NULL, NULL),
                0);
            EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
        }
    }
    char text[4];
    EXPECT_EQ(WideCharToMultiByte(CP_ACP, 0, u"x", 0, text, 4, NULL, NULL), 0);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER) << "no units at all";
}

TEST_F(SimPlatform, LookUpsFindOnlyTheOfferedFunctionsInTheirModule) {
    HMODULE user32 = GetModuleHandleA("user32.dll");
    HMODULE kernel32 = GetModuleHandleA("KERNEL32");
    ASSERT_TRUE(user32 != NULL && kernel32 != NULL && user32 != kernel32);
    EXPECT_EQ(GetModuleHandleA("USER32"), user32);
    EXPECT_EQ(GetModuleHandleA("ADVAPI32"), (HMODULE)NULL);
    EXPECT_EQ(GetProcAddress(user32, "ShutdownBlockReasonCreate"), (FARPROC)NULL);
    sim::SetSystem(sim::System::Wine8);
    EXPECT_NE(GetProcAddress(user32, "ShutdownBlockReasonCreate"), (FARPROC)NULL);
    EXPECT_EQ(GetProcAddress(user32, "ShutdownBlockReasonDestroy"), (FARPROC)NULL);
    EXPECT_EQ(GetLastError(), ERROR_PROC_NOT_FOUND);
    EXPECT_EQ(GetProcAddress(user32, "RegisterApplicationRestart"), (FARPROC)NULL)
        << "a KERNEL32 function is not found in USER32";
    EXPECT_NE(GetProcAddress(kernel32, "RegisterApplicationRestart"), (FARPROC)NULL);
    EXPECT_EQ(sim::LookUps().size(), 5u);
    EXPECT_EQ(sim::LookUps()[0], "USER32!ShutdownBlockReasonCreate");
    EXPECT_TRUE(sim::Problems().empty());
    EXPECT_EQ(GetProcAddress(user32, "ShutdownBlockReasonCreat"), (FARPROC)NULL);
    EXPECT_EQ(sim::Problems().size(), 1u) << "a name the simulation does not know";
    sim::Reset();
}

typedef BOOL(WINAPI *CreateProc)(HWND, LPCWSTR);

DWORD WINAPI CreateFromAnotherThread(LPVOID window) {
    FARPROC found = GetProcAddress(GetModuleHandleA("USER32"), "ShutdownBlockReasonCreate");
    CreateProc create = reinterpret_cast<CreateProc>(reinterpret_cast<void (*)(void)>(found));
    return create(static_cast<HWND>(window), u"x") ? 1 : GetLastError();
}

TEST_F(SimPlatform, OnlyTheWindowsThreadMaySetItsBlockReason) {
    sim::SetSystem(sim::System::WindowsVista);
    HWND window = MakeLoggingWindow();
    HANDLE other = CreateThread(NULL, 0, CreateFromAnotherThread, window, 0, NULL);
    EXPECT_EQ(WaitForSingleObject(other, 2000), WAIT_OBJECT_0);
    CloseHandle(other);
    EXPECT_EQ(CreateFromAnotherThread(window), 1u);
    ASSERT_EQ(sim::SessionCalls().size(), 2u);
    EXPECT_NE(sim::SessionCalls()[0].threadId, GetCurrentThreadId());
    EXPECT_TRUE(sim::SessionCalls()[1].text == u"x");
    EXPECT_EQ(sim::SessionCalls()[1].window, window);
    ASSERT_EQ(sim::Problems().size(), 1u) << "the first call came from a thread without the window";
    DestroyWindow(window);
    sim::Reset();
}

} // namespace
