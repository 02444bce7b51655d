// Helpers shared by the media-check tests: the expected message boxes as a table, texts composed
// from catalogue pieces, user templates laid out as the option interpreter leaves them, and a
// window that records what is posted to it.
#pragma once

#include "fixture.h"

#include "control/messages.h"

#include <initializer_list>
#include <string>
#include <vector>

// For tests that run a table of cases on one fixture: reports what the simulated platform saw
// wrongly in the case just run (labelled), then starts a fresh machine for the next one.
void NextCase(const std::string &finishedLabel);

struct ExpectedBox {
    HWND owner;
    std::string text;
    std::string caption;
    UINT style;
};

// Compares the simulated box log with `expected`, text and caption byte for byte.
void ExpectBoxes(const std::vector<ExpectedBox> &expected, const std::string &label);

// A catalogue entry or a literal, to build an expected text from.
struct Piece {
    Piece(MessageId id) : id(id), literal(nullptr) {}
    Piece(const char *literal) : id(kMessageCount), literal(literal) {}
    MessageId id;
    const char *literal;
};

// Joins the pieces, catalogue entries taken in `language`; the language index is left as it was.
std::string Compose(int language, std::initializer_list<Piece> pieces);

// Lays the template parts into gSettings.templateBuffer one after another and points the
// settings at them; NULL leaves a part absent.
void UseTemplate(const char *prefix, const char *suffix, const char *caption);

// A top-level window of a test class whose procedure records every private message it gets.
struct PostedMessage {
    HWND window;
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
};
HWND CreateRecordingWindow(void);
// Dispatches what is queued for this thread and returns the private messages received.
std::vector<PostedMessage> PumpRecordedMessages(void);
