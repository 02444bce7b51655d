// The result file of one driver command: key=value lines in UTF-8, read by the bench runner.
#pragma once

#include <windows.h>

#include <string>

class Report {
  public:
    void Set(const std::string &key, const std::wstring &value);
    void Set(const std::string &key, const std::string &value) { Set(key, Wide(value)); }
    void Set(const std::string &key, long long value) { Set(key, std::to_string(value)); }
    // Writes every line to `path`; false when the file cannot be written.
    bool Write(const std::wstring &path) const;

    static std::wstring Wide(const std::string &ascii);
    static std::string Utf8(const std::wstring &text);

  private:
    std::string lines_;
};

// Milliseconds since the driver started; every time in a report counts from the same origin.
long long ElapsedMs(void);
