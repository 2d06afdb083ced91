#pragma once
// Test support: the problem box recorded instead of shown. While a BoxRecorder
// lives, every box the launcher would show lands in RecordedBox.
#include <windows.h>

#include <string>

struct ShownBox {
    int count = 0;
    HWND owner = nullptr;
    std::wstring text;
    std::wstring caption;
    UINT style = 0;
};
extern ShownBox RecordedBox;

// Clears RecordedBox and puts the recorder in place of the real box; the real
// box comes back when the object goes away.
class BoxRecorder {
  public:
    BoxRecorder();
    ~BoxRecorder();
    BoxRecorder(const BoxRecorder&) = delete;
    BoxRecorder& operator=(const BoxRecorder&) = delete;
};
