#pragma once
// Progress on stderr while packing takes more than a moment: files and
// bytes done, and the percentage. Shown on a terminal, or when asked for.
#include <chrono>
#include <cstdint>

class ProgressMeter {
  public:
    ProgressMeter(bool shown, uint64_t totalFiles, uint64_t totalBytes);
    ~ProgressMeter();
    ProgressMeter(const ProgressMeter&) = delete;
    ProgressMeter& operator=(const ProgressMeter&) = delete;

    void AddBytes(uint64_t bytes);
    void FileDone();
    // Clears the progress line, when one was drawn.
    void Finish();

  private:
    void Draw(bool force);

    bool shown_;
    bool drawn_ = false;
    uint64_t totalFiles_;
    uint64_t totalBytes_;
    uint64_t files_ = 0;
    uint64_t bytes_ = 0;
    std::chrono::steady_clock::time_point start_;
    std::chrono::steady_clock::time_point lastDraw_;
};

// Whether stderr is a terminal (a console window on Windows).
bool ErrorIsTerminal();
