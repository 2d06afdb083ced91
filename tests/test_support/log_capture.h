#pragma once
// Test support: points the process-wide log at a file of the test's own and
// reads its lines back without their timestamp prefix.
#include "diagnostics/diagnostic_log.h"

#include <windows.h>

#include <string>
#include <vector>

#include "test_support/scratch_folder.h"

// The lines of a log's text, each with its "[..] " prefix and its CR LF
// removed; text after the last CR LF is a line too.
inline std::vector<std::string> LogLines(const std::string& content) {
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < content.size()) {
        size_t end = content.find("\r\n", start);
        if (end == std::string::npos) {
            end = content.size();
        }
        std::string line = content.substr(start, end - start);
        size_t prefixEnd = line.find("] ");
        if (!line.empty() && line[0] == '[' && prefixEnd != std::string::npos) {
            line.erase(0, prefixEnd + 2);
        }
        lines.push_back(line);
        start = end + 2;
    }
    return lines;
}

class LogCapture {
  public:
    explicit LogCapture(const std::wstring& path) : path_(path) {
        DeleteFileW(path_.c_str());
        UseLauncherLog(CreateLogFile(path_.c_str()));
    }
    ~LogCapture() {
        UseLauncherLog(nullptr);
        DeleteFileW(path_.c_str());
    }
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    // The log file as written, and its lines as LogLines gives them.
    std::string Text() const { return ReadFileText(path_); }
    std::vector<std::string> Lines() const { return LogLines(Text()); }

    // How many lines hold text, and whether any does.
    size_t Count(const std::string& text) const {
        size_t count = 0;
        for (const std::string& line : Lines()) {
            count += line.find(text) != std::string::npos ? 1 : 0;
        }
        return count;
    }
    bool Contains(const std::string& text) const { return Count(text) != 0; }

  private:
    std::wstring path_;
};
