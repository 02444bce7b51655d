// MultiByteToWideChar and WideCharToMultiByte for the ANSI code pages the simulation offers:
// 1252 by its table, and 932 (Shift-JIS) through the host's iconv, one character at a time so
// that a pair the code page does not map becomes U+30FB, the code page's default character, as
// on Windows, and a character it cannot spell becomes '?'. The simulation knows no best-fit
// table: where Windows would give a look-alike (U+0100 as 'A' in 1252), it gives '?', as Windows
// does with WC_NO_BEST_FIT_CHARS. Sizes and failures follow Windows: a length of -1 takes the
// terminator too, a length of 0 fails with ERROR_INVALID_PARAMETER, a capacity of 0 asks for the
// size, and a result that does not fit fails with ERROR_INSUFFICIENT_BUFFER after filling the
// buffer.
#include "sim_internal.h"

#include <cstring>
#include <iconv.h>

using namespace sim::detail;

namespace {

// Code page 1252 differs from Latin-1 only in 0x80..0x9F; its five unassigned bytes map to
// the control characters of the same value.
const char16_t k1252High[32] = {0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
                                0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

const char16_t kDefault932 = 0x30FB;

char16_t From1252(unsigned char byte) {
    return byte >= 0x80 && byte < 0xA0 ? k1252High[byte - 0x80] : byte;
}

// One Shift-JIS character of one or two bytes, or the default character.
char16_t From932(iconv_t converter, const char *character, size_t size) {
    char input[2];
    std::memcpy(input, character, size);
    unsigned char output[4];
    char *in = input;
    char *out = reinterpret_cast<char *>(output);
    size_t inLeft = size;
    size_t outLeft = sizeof output;
    if (iconv(converter, &in, &inLeft, &out, &outLeft) == static_cast<size_t>(-1) ||
        sizeof output - outLeft != 2)
        return kDefault932;
    return static_cast<char16_t>(output[0] | (output[1] << 8));
}

// Single bytes below 0x80 are ASCII (0x5C stays the backslash, as Windows converts it).
bool Decode932(const std::string &bytes, std::u16string &wide) {
    iconv_t converter = iconv_open("UTF-16LE", "CP932");
    if (reinterpret_cast<intptr_t>(converter) == -1)
        return false;
    for (size_t at = 0; at < bytes.size();) {
        unsigned char byte = static_cast<unsigned char>(bytes[at]);
        size_t size = LeadByte(932, byte) ? 2 : 1;
        if (byte < 0x80)
            wide.push_back(byte);
        else if (at + size > bytes.size())
            wide.push_back(kDefault932); // a lead byte at the very end
        else
            wide.push_back(From932(converter, bytes.data() + at, size));
        at += size;
    }
    iconv_close(converter);
    return true;
}

bool Decode(UINT codePage, const std::string &bytes, std::u16string &wide) {
    if (codePage == 932)
        return Decode932(bytes, wide);
    if (codePage != 1252)
        return false;
    for (char byte : bytes)
        wide.push_back(From1252(static_cast<unsigned char>(byte)));
    return true;
}

// One UTF-16 unit in code page 1252: its own byte where 1252 and Latin-1 agree, its byte
// among 0x80..0x9F, or '?'.
void To1252(char16_t unit, std::string &bytes) {
    if (unit < 0x80 || (unit >= 0xA0 && unit <= 0xFF)) {
        bytes.push_back(static_cast<char>(unit));
        return;
    }
    for (int high = 0; high < 32; high++)
        if (k1252High[high] == unit) {
            bytes.push_back(static_cast<char>(0x80 + high));
            return;
        }
    bytes.push_back('?');
}

// One UTF-16 unit in Shift-JIS, or '?' (a surrogate too: code page 932 has no such character).
void To932(iconv_t converter, char16_t unit, std::string &bytes) {
    char input[2] = {static_cast<char>(unit & 0xFF), static_cast<char>(unit >> 8)};
    char output[4];
    char *in = input;
    char *out = output;
    size_t inLeft = sizeof input;
    size_t outLeft = sizeof output;
    if (unit < 0x80)
        bytes.push_back(static_cast<char>(unit));
    else if (iconv(converter, &in, &inLeft, &out, &outLeft) == static_cast<size_t>(-1))
        bytes.push_back('?');
    else
        bytes.append(output, sizeof output - outLeft);
}

bool Encode(UINT codePage, const std::u16string &wide, std::string &bytes) {
    if (codePage == 1252) {
        for (char16_t unit : wide)
            To1252(unit, bytes);
        return true;
    }
    if (codePage != 932)
        return false;
    iconv_t converter = iconv_open("CP932", "UTF-16LE");
    if (reinterpret_cast<intptr_t>(converter) == -1)
        return false;
    for (char16_t unit : wide)
        To932(converter, unit, bytes);
    iconv_close(converter);
    return true;
}

int UnknownCodePage(const char *function, UINT page) {
    Guard lock(Mutex());
    AddProblem(std::string(function) + " for code page " + std::to_string(page) +
               ", which the simulation does not know");
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
}

// A conversion's result as both directions return it: the size asked for (a capacity of 0), the
// whole result, or a filled buffer and ERROR_INSUFFICIENT_BUFFER.
template <class Unit>
int Deliver(const std::basic_string<Unit> &converted, Unit *out, int capacity) {
    int needed = static_cast<int>(converted.size());
    if (capacity == 0)
        return needed;
    std::memcpy(out, converted.data(),
                static_cast<size_t>(needed < capacity ? needed : capacity) * sizeof(Unit));
    if (needed > capacity) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    return needed;
}

} // namespace

namespace sim {
namespace detail {

std::u16string Widen(const std::string &bytes) {
    std::u16string wide;
    if (!Decode(St().ansiCodePage, bytes, wide)) {
        AddProblem("a path in code page " + std::to_string(St().ansiCodePage) +
                   ", which the simulation does not know");
        wide.assign(bytes.begin(), bytes.end());
    }
    return wide;
}

} // namespace detail
} // namespace sim

extern "C" {

int WINAPI MultiByteToWideChar(UINT codePage, DWORD, LPCSTR text, int length, LPWSTR wide,
                               int capacity) {
    UINT page;
    {
        Guard lock(Mutex());
        if (ShouldFail(sim::Api::MultiByteToWideChar)) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return 0;
        }
        if (!text || length < -1 || capacity < 0 || (capacity > 0 && !wide)) {
            AddProblem("MultiByteToWideChar with invalid arguments");
            SetLastError(ERROR_INVALID_PARAMETER);
            return 0;
        }
        page = codePage == CP_ACP ? St().ansiCodePage : codePage;
    }
    std::string bytes = length == -1 ? std::string(text, std::strlen(text) + 1)
                                     : std::string(text, static_cast<size_t>(length));
    std::u16string converted;
    if (!Decode(page, bytes, converted))
        return UnknownCodePage("MultiByteToWideChar", page);
    return Deliver(converted, wide, capacity);
}

// NOLINTNEXTLINE(bugprone-easily-swappable-parameters): Win32's own signature
int WINAPI WideCharToMultiByte(UINT codePage, DWORD flags, LPCWSTR wide, int length, LPSTR text,
                               int capacity, LPCSTR defaultChar, LPBOOL usedDefaultChar) {
    UINT page;
    {
        Guard lock(Mutex());
        if (!wide || length < -1 || length == 0 || capacity < 0 || (capacity > 0 && !text)) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return 0;
        }
        if (flags != 0 || defaultChar || usedDefaultChar)
            AddProblem("WideCharToMultiByte with flags or a default character of its own, "
                       "which the simulation does not model");
        page = codePage == CP_ACP ? St().ansiCodePage : codePage;
    }
    size_t units = 0;
    if (length == -1) {
        while (wide[units] != 0)
            units++;
        units++;
    } else {
        units = static_cast<size_t>(length);
    }
    std::string converted;
    if (!Encode(page, std::u16string(wide, units), converted))
        return UnknownCodePage("WideCharToMultiByte", page);
    return Deliver(converted, text, capacity);
}

} // extern "C"
