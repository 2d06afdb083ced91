// Test helper: reads a program's version information and icons through the
// Windows API, as Explorer would, and prints them as one JSON object.
//   brandcheck.exe PROGRAM SIZE...
// {"strings": {"ProductName": "...", ...}, "file_version": "A.B.C.D",
//  "product_version": "A.B.C.D", "icons": {"16": "BGRA pixels in hex", ...}}
// An icon size that no image of the first icon group has is left out.
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

const wchar_t* const kStringNames[] = {L"ProductName",     L"FileDescription", L"CompanyName",
                                       L"LegalCopyright",  L"FileVersion",     L"ProductVersion",
                                       L"OriginalFilename"};

// Text as a JSON string with every character beyond ASCII escaped.
std::string Json(const wchar_t* text) {
    std::string out = "\"";
    for (; *text != L'\0'; ++text) {
        char escaped[8];
        bool plain = *text >= 0x20 && *text < 0x7F && *text != L'"' && *text != L'\\';
        std::snprintf(escaped, sizeof escaped, plain ? "%c" : "\\u%04x",
                      static_cast<unsigned>(*text));
        out += escaped;
    }
    return out + "\"";
}

std::string FourParts(DWORD high, DWORD low) {
    char text[32];
    std::snprintf(text, sizeof text, "\"%u.%u.%u.%u\"", HIWORD(high), LOWORD(high), HIWORD(low),
                  LOWORD(low));
    return text;
}

std::string VersionJson(const wchar_t* program) {
    DWORD ignored = 0;
    std::vector<BYTE> block(GetFileVersionInfoSizeW(program, &ignored) + 1);
    if (!GetFileVersionInfoW(program, 0, static_cast<DWORD>(block.size()), block.data())) {
        return "\"strings\": null";
    }
    WORD* translation = nullptr;
    UINT length = 0;
    VerQueryValueW(block.data(), L"\\VarFileInfo\\Translation",
                   reinterpret_cast<void**>(&translation), &length);
    std::string json = "\"strings\": {";
    for (const wchar_t* name : kStringNames) {
        wchar_t query[128];
        swprintf(query, 128, L"\\StringFileInfo\\%04x%04x\\%ls", translation ? translation[0] : 0,
                 translation ? translation[1] : 0, name);
        wchar_t* value = nullptr;
        if (VerQueryValueW(block.data(), query, reinterpret_cast<void**>(&value), &length)) {
            json += (json.back() == '{' ? "" : ", ") + Json(name) + ": " + Json(value);
        }
    }
    VS_FIXEDFILEINFO* fixed = nullptr;
    VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&fixed), &length);
    return json +
           "}, \"file_version\": " + FourParts(fixed->dwFileVersionMS, fixed->dwFileVersionLS) +
           ", \"product_version\": " +
           FourParts(fixed->dwProductVersionMS, fixed->dwProductVersionLS);
}

BOOL CALLBACK TakeFirstName(HMODULE, LPCWSTR, LPWSTR name, LONG_PTR found) {
    *reinterpret_cast<LPCWSTR*>(found) = name;
    return FALSE;
}

// The pixels of the image of one size, top row first, as hex; empty when none.
std::string IconPixels(HMODULE module, BYTE* group, int size) {
    int id = LookupIconIdFromDirectoryEx(group, TRUE, size, size, LR_DEFAULTCOLOR);
    HRSRC found = FindResourceW(module, MAKEINTRESOURCEW(id), MAKEINTRESOURCEW(3));
    if (id == 0 || found == nullptr) {
        return std::string();
    }
    BYTE* bytes = static_cast<BYTE*>(LockResource(LoadResource(module, found)));
    HICON icon = CreateIconFromResourceEx(bytes, SizeofResource(module, found), TRUE, 0x00030000,
                                          size, size, LR_DEFAULTCOLOR);
    ICONINFO info = {};
    if (icon == nullptr || !GetIconInfo(icon, &info)) {
        return std::string();
    }
    BITMAPINFO format = {};
    format.bmiHeader = {sizeof(BITMAPINFOHEADER), size, -size, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
    std::vector<BYTE> pixels(static_cast<size_t>(size) * size * 4);
    HDC screen = GetDC(nullptr);
    int rows = GetDIBits(screen, info.hbmColor, 0, static_cast<UINT>(size), pixels.data(), &format,
                         DIB_RGB_COLORS);
    ReleaseDC(nullptr, screen);
    std::string hex;
    for (BYTE b : pixels) {
        char two[3];
        std::snprintf(two, sizeof two, "%02x", b);
        hex += two;
    }
    return rows == size ? hex : std::string();
}

std::string IconsJson(const wchar_t* program, int count, wchar_t** sizes) {
    HMODULE module =
        LoadLibraryExW(program, nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    LPCWSTR name = nullptr;
    EnumResourceNamesW(module, MAKEINTRESOURCEW(14), TakeFirstName,
                       reinterpret_cast<LONG_PTR>(&name));
    HRSRC found = name ? FindResourceW(module, name, MAKEINTRESOURCEW(14)) : nullptr;
    if (found == nullptr) {
        return "\"icons\": null";
    }
    BYTE* group = static_cast<BYTE*>(LockResource(LoadResource(module, found)));
    std::string json = "\"icons\": {";
    for (int i = 0; i < count; ++i) {
        std::string pixels = IconPixels(module, group, _wtoi(sizes[i]));
        if (!pixels.empty()) {
            json += (json.back() == '{' ? "\"" : ", \"") + std::to_string(_wtoi(sizes[i])) +
                    "\": \"" + pixels + "\"";
        }
    }
    return json + "}";
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 2) {
        std::fputs("usage: brandcheck PROGRAM SIZE...\n", stderr);
        return 2;
    }
    std::string json = "{" + VersionJson(argv[1]) + ", " + IconsJson(argv[1], argc - 2, argv + 2);
    std::fputs((json + "}\n").c_str(), stdout);
    return 0;
}
