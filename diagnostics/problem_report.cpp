#include "diagnostics/problem_report.h"

#include "diagnostics/message_catalogue.h"
#include "common/system_libraries.h"
#include "common/unique_handle.h"
#include "common/wide_format.h"

#include <vector>

ProblemBoxFunction ProblemBoxDisplay = SystemMessageBoxW;

namespace {

// Each problem number and the number of its text in the message catalogue.
struct ProblemMessage {
    int problemNumber;
    unsigned messageNumber;
};
constexpr ProblemMessage kProblemMessages[] = {
    {201, 10002}, {202, 10004}, {203, 10005}, {204, 10008}, {205, 10009},
    {206, 10011}, {207, 10012}, {208, 10013}, {209, 10014}, {210, 10019},
};

constexpr size_t kTemplateCapacity = 2048;
constexpr size_t kCaptionCapacity = 256;
constexpr size_t kGenericTextBytes = 1024;

// The problem's own catalogue text with its inserts, allocated by the platform.
HLOCAL FormatOwnText(int problemNumber, va_list* inserts) {
    unsigned messageNumber = ProblemMessageNumber(problemNumber);
    if (messageNumber == 0) {
        return nullptr;
    }
    std::vector<wchar_t> pattern(kTemplateCapacity);
    if (!LookUpMessage(messageNumber, pattern.data(), pattern.size())) {
        return nullptr;
    }
    wchar_t* text = nullptr;
    DWORD length =
        FormatMessageW(FORMAT_MESSAGE_FROM_STRING | FORMAT_MESSAGE_ALLOCATE_BUFFER, pattern.data(),
                       0, 0, reinterpret_cast<LPWSTR>(&text), 0, inserts);
    // A catalogue text that does not format falls back to the generic text.
    if (length == 0 || text == nullptr) {
        return nullptr;
    }
    return text;
}

// The generic text with the problem number, cut to fit its 1024-byte buffer.
HLOCAL FormatGenericText(int problemNumber) {
    std::vector<wchar_t> pattern(kTemplateCapacity);
    if (!LookUpMessage(kGenericTextMessage, pattern.data(), pattern.size())) {
        FormatWide(pattern.data(), pattern.size(), L"%s", kFallbackGenericText);
    }
    HLOCAL text = LocalAlloc(LMEM_FIXED, kGenericTextBytes);
    if (text != nullptr) {
        FormatWide(static_cast<wchar_t*>(text), kGenericTextBytes / sizeof(wchar_t), pattern.data(),
                   problemNumber);
    }
    return text;
}

}  // namespace

unsigned ProblemMessageNumber(int problemNumber) {
    for (const ProblemMessage& entry : kProblemMessages) {
        if (entry.problemNumber == problemNumber) {
            return entry.messageNumber;
        }
    }
    return 0;
}

void ShowProblemBox(va_list* inserts, UINT style, int problemNumber) {
    UniqueLocalMemory text(FormatOwnText(problemNumber, inserts));
    if (!text) {
        text.reset(FormatGenericText(problemNumber));
    }
    wchar_t caption[kCaptionCapacity];
    if (!LookUpMessage(kCaptionMessage, caption, kCaptionCapacity)) {
        FormatWide(caption, kCaptionCapacity, L"%s", kFallbackCaption);
    }
    const wchar_t* shown = text ? static_cast<const wchar_t*>(text.get()) : L"";
    ProblemBoxDisplay(nullptr, shown, caption, style | MB_SETFOREGROUND);
}

void ReportProblem(int problemNumber, ...) {
    va_list inserts;
    va_start(inserts, problemNumber);
    ShowProblemBox(&inserts, MB_ICONHAND, problemNumber);
    va_end(inserts);
}
