#include "tools/pack/progress.h"

#include <cstdio>
#include <string>

#include "tools/pack/console_output.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace {

// Nothing shows for runs shorter than this; then a redraw at most this often.
constexpr auto kQuietStart = std::chrono::milliseconds(1000);
constexpr auto kRedrawEvery = std::chrono::milliseconds(250);

std::string Megabytes(uint64_t bytes) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f MB", static_cast<double>(bytes) / 1e6);
    return text;
}

}  // namespace

bool ErrorIsTerminal() {
#ifdef _WIN32
    DWORD mode = 0;
    return GetConsoleMode(GetStdHandle(STD_ERROR_HANDLE), &mode) != 0;
#else
    return isatty(STDERR_FILENO) != 0;
#endif
}

ProgressMeter::ProgressMeter(bool shown, uint64_t totalFiles, uint64_t totalBytes)
    : shown_(shown),
      totalFiles_(totalFiles),
      totalBytes_(totalBytes),
      start_(std::chrono::steady_clock::now()),
      lastDraw_(start_) {}

ProgressMeter::~ProgressMeter() {
    Finish();
}

void ProgressMeter::AddBytes(uint64_t bytes) {
    bytes_ += bytes;
    Draw(false);
}

void ProgressMeter::FileDone() {
    ++files_;
    Draw(false);
}

void ProgressMeter::Draw(bool force) {
    if (!shown_) {
        return;
    }
    auto now = std::chrono::steady_clock::now();
    if (!force && (now - start_ < kQuietStart || (drawn_ && now - lastDraw_ < kRedrawEvery))) {
        return;
    }
    lastDraw_ = now;
    drawn_ = true;
    unsigned percent = totalBytes_ == 0 ? 100 : static_cast<unsigned>(bytes_ * 100 / totalBytes_);
    WriteError("\rvelmar-pack: " + std::to_string(files_) + "/" + std::to_string(totalFiles_) +
               " files, " + Megabytes(bytes_) + " of " + Megabytes(totalBytes_) + ", " +
               std::to_string(percent) + "%   ");
}

void ProgressMeter::Finish() {
    if (drawn_) {
        Draw(true);
        WriteError("\n");
        drawn_ = false;
    }
    shown_ = false;
}
