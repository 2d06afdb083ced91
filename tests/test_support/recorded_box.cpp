#include "test_support/recorded_box.h"

#include "diagnostics/problem_report.h"

ShownBox RecordedBox;

namespace {

int WINAPI RecordBox(HWND owner, LPCWSTR text, LPCWSTR caption, UINT style) {
    ++RecordedBox.count;
    RecordedBox.owner = owner;
    RecordedBox.text = text;
    RecordedBox.caption = caption;
    RecordedBox.style = style;
    return IDOK;
}

}  // namespace

BoxRecorder::BoxRecorder() {
    RecordedBox = ShownBox();
    ProblemBoxDisplay = RecordBox;
}

BoxRecorder::~BoxRecorder() {
    ProblemBoxDisplay = MessageBoxW;
}
