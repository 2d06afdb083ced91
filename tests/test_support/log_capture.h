#pragma once
// Test support: points the process-wide log at a file of the test's own and
// reads its lines back without their timestamp prefix.
#include "diagnostics/diagnostic_log.h"

#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

class LogCapture {
  public:
    explicit LogCapture(const std::wstring& path) : path_(path) {
        DeleteFileW(path_.c_str());
        LogHandle = CreateLogFile(path_.c_str());
    }
    ~LogCapture() {
        delete LogHandle;
        LogHandle = nullptr;
        DeleteFileW(path_.c_str());
    }
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    // Every line as written, with the "[..] " prefix and the CR LF removed.
    std::vector<std::string> Lines() const {
        std::vector<std::string> lines;
        FILE* file = _wfopen(path_.c_str(), L"rb");
        if (file == nullptr) {
            return lines;
        }
        std::string content;
        char chunk[4096];
        size_t got;
        while ((got = fread(chunk, 1, sizeof(chunk), file)) > 0) {
            content.append(chunk, got);
        }
        fclose(file);
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
