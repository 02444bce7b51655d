// The box of a start that cannot become resident; see start_failure.h.
#include "control/start_failure.h"

#include "common/text.h"

// The longest text, with the ten digits of the largest code, is 103 bytes.
enum { kFailureCapacity = 128 };

void ShowStartFailure(MessageId step, DWORD error) {
    char text[kFailureCapacity];
    TextCopy(text, sizeof text, GetMessageText(MsgCannotStayResident));
    TextAppend(text, sizeof text, GetMessageText(step));
    TextAppend(text, sizeof text, GetMessageText(MsgWindowsError));
    TextAppendDecimal(text, sizeof text, error);
    MessageBoxA(NULL, text, GetMessageText(CaptionError), MB_ICONERROR);
}
