// Test helper: finds a message box as a real top-level window, reports what a
// user would see in it (caption, text, icon, buttons) as one line of JSON on
// stdout, and presses OK.
//   boxwatch.exe [--caption TEXT] [--timeout MS] [--leave-open]
// Without --caption, the first message box (dialog class #32770) found is taken.
// Exit code 0 when a box was found, 3 when none appeared in time.
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

struct Search {
    std::wstring caption;
    bool anyCaption = true;
    HWND found = nullptr;
};

std::wstring WindowText(HWND window) {
    int length = GetWindowTextLengthW(window);
    std::vector<wchar_t> text(static_cast<size_t>(length) + 2);
    GetWindowTextW(window, text.data(), length + 1);
    return text.data();
}

std::wstring ClassName(HWND window) {
    wchar_t name[64] = {};
    GetClassNameW(window, name, 64);
    return name;
}

BOOL CALLBACK FindBox(HWND window, LPARAM context) {
    auto* search = reinterpret_cast<Search*>(context);
    if (!IsWindowVisible(window) || ClassName(window) != L"#32770") {
        return TRUE;
    }
    if (search->anyCaption || WindowText(window) == search->caption) {
        search->found = window;
        return FALSE;
    }
    return TRUE;
}

struct Inspection {
    bool icon = false;
    std::vector<std::pair<int, std::wstring>> buttons;
};

BOOL CALLBACK InspectChild(HWND child, LPARAM context) {
    auto* inspection = reinterpret_cast<Inspection*>(context);
    std::wstring name = ClassName(child);
    if (name == L"Static" && SendMessageW(child, STM_GETICON, 0, 0) != 0) {
        inspection->icon = true;
    }
    if (name == L"Button" && IsWindowVisible(child)) {
        inspection->buttons.emplace_back(GetDlgCtrlID(child), WindowText(child));
    }
    return TRUE;
}

std::string Json(const std::wstring& text) {
    std::string utf8;
    int size = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
    if (size > 0) {
        utf8.resize(static_cast<size_t>(size));
        WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, utf8.data(), size, nullptr, nullptr);
        utf8.pop_back();
    }
    std::string out = "\"";
    for (char c : utf8) {
        switch (c) {
            case '"':
                out += "\\\"";
                break;
            case '\\':
                out += "\\\\";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            case '\t':
                out += "\\t";
                break;
            default:
                out += c;
        }
    }
    return out + "\"";
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    Search search;
    DWORD timeout = 30000;
    bool leaveOpen = false;
    for (int i = 1; i < argc; ++i) {
        std::wstring arg = argv[i];
        if (arg == L"--caption" && i + 1 < argc) {
            search.caption = argv[++i];
            search.anyCaption = false;
        } else if (arg == L"--timeout" && i + 1 < argc) {
            timeout = static_cast<DWORD>(_wtoi(argv[++i]));
        } else if (arg == L"--leave-open") {
            leaveOpen = true;
        }
    }
    DWORD start = GetTickCount();
    while (search.found == nullptr) {
        EnumWindows(FindBox, reinterpret_cast<LPARAM>(&search));
        if (search.found != nullptr) {
            break;
        }
        if (GetTickCount() - start > timeout) {
            std::printf("{\"found\": false}\n");
            return 3;
        }
        Sleep(100);
    }
    Sleep(200);  // let the box finish laying out its controls
    HWND box = search.found;
    Inspection inspection;
    EnumChildWindows(box, InspectChild, reinterpret_cast<LPARAM>(&inspection));
    HWND textControl = GetDlgItem(box, 0xFFFF);
    std::wstring text = textControl != nullptr ? WindowText(textControl) : L"";

    std::string line = "{\"found\": true, \"caption\": " + Json(WindowText(box)) +
                       ", \"text\": " + Json(text) +
                       ", \"icon\": " + (inspection.icon ? "true" : "false") + ", \"buttons\": [";
    for (size_t i = 0; i < inspection.buttons.size(); ++i) {
        line += (i ? ", " : "") + std::string("{\"id\": ") +
                std::to_string(inspection.buttons[i].first) +
                ", \"text\": " + Json(inspection.buttons[i].second) + "}";
    }
    line += "]";
    if (!leaveOpen) {
        PostMessageW(box, WM_COMMAND, IDOK, 0);
        // The box is gone once its owner thread has handled the OK.
        DWORD closeStart = GetTickCount();
        while (IsWindow(box) && GetTickCount() - closeStart < 10000) {
            Sleep(50);
        }
        line += std::string(", \"closed\": ") + (IsWindow(box) ? "false" : "true");
    }
    line += "}\n";
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fflush(stdout);
    return 0;
}
