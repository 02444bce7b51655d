// Helpers shared by the media-check tests; see check_support.h.
#include "check_support.h"

#include "settings/settings.h"

#include <cstring>

void NextCase(const std::string &finishedLabel) {
    for (const std::string &problem : sim::Problems())
        ADD_FAILURE() << finishedLabel << ": simulated platform: " << problem;
    sim::Reset();
    ForgetSurveyThread();
}

void ExpectBoxes(const std::vector<ExpectedBox> &expected, const std::string &label) {
    const std::vector<sim::Box> &boxes = sim::Boxes();
    ASSERT_EQ(boxes.size(), expected.size()) << label;
    for (size_t i = 0; i < boxes.size(); i++) {
        EXPECT_EQ(boxes[i].text, expected[i].text)
            << label << ", box " << i << "\n   got: " << Hex(boxes[i].text)
            << "\nwanted: " << Hex(expected[i].text);
        EXPECT_EQ(boxes[i].caption, expected[i].caption)
            << label << ", box " << i << "\n   got: " << Hex(boxes[i].caption);
        EXPECT_EQ(boxes[i].style, expected[i].style) << label << ", box " << i;
        EXPECT_EQ(boxes[i].owner, expected[i].owner) << label << ", box " << i;
    }
}

std::string Compose(int language, std::initializer_list<Piece> pieces) {
    int saved = gLanguageIndex;
    gLanguageIndex = language;
    std::string text;
    for (const Piece &piece : pieces)
        text += piece.literal != nullptr ? piece.literal : GetMessageText(piece.id);
    gLanguageIndex = saved;
    return text;
}

static char *PlacePart(const char *part, size_t *used) {
    if (part == nullptr)
        return nullptr;
    size_t size = std::strlen(part) + 1;
    if (*used + size > sizeof gSettings.templateBuffer) {
        ADD_FAILURE() << "template parts do not fit the buffer";
        return nullptr;
    }
    char *place = gSettings.templateBuffer + *used;
    std::memcpy(place, part, size);
    *used += size;
    return place;
}

void UseTemplate(const char *prefix, const char *suffix, const char *caption) {
    size_t used = 0;
    gSettings.templatePrefix = PlacePart(prefix, &used);
    gSettings.templateSuffix = PlacePart(suffix, &used);
    gSettings.customCaption = PlacePart(caption, &used);
}

static std::vector<PostedMessage> gRecorded;

static LRESULT CALLBACK RecordingProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message >= WM_USER)
        gRecorded.push_back({window, message, wParam, lParam});
    return DefWindowProcA(window, message, wParam, lParam);
}

HWND CreateRecordingWindow(void) {
    static const char kClassName[] = "VerdictTestRecorder";
    WNDCLASSA windowClass;
    std::memset(&windowClass, 0, sizeof windowClass);
    windowClass.lpfnWndProc = RecordingProc;
    windowClass.lpszClassName = kClassName;
    RegisterClassA(&windowClass);
    return CreateWindowExA(0, kClassName, "recorder", 0, 0, 0, 0, 0, NULL, NULL, NULL, NULL);
}

std::vector<PostedMessage> PumpRecordedMessages(void) {
    gRecorded.clear();
    PostQuitMessage(0);
    MSG msg;
    while (GetMessageA(&msg, NULL, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
    return gRecorded;
}
