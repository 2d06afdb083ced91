#include "tools/client/client_report.h"

#include "common/text_conversion.h"

#include <windows.h>

namespace {

const char kHexDigits[] = "0123456789abcdef";

}  // namespace

std::string JsonString(const std::wstring& text) {
    std::string out = "\"";
    for (wchar_t c : text) {
        unsigned unit = static_cast<unsigned>(c) & 0xFFFF;
        if (c == L'"' || c == L'\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (unit >= 0x20 && unit < 0x7F) {
            out += static_cast<char>(unit);
        } else {
            out += "\\u";
            for (int shift = 12; shift >= 0; shift -= 4) {
                out += kHexDigits[(unit >> shift) & 0xF];
            }
        }
    }
    return out + "\"";
}

std::string HexBytes(const std::string& bytes) {
    std::string out;
    out.reserve(bytes.size() * 2);
    for (unsigned char byte : bytes) {
        out += kHexDigits[byte >> 4];
        out += kHexDigits[byte & 0xF];
    }
    return out;
}

std::wstring WideFromUtf8(const std::string& bytes) {
    std::wstring text;
    WideFromCodePage(CP_UTF8, bytes.data(), bytes.size(), 0, text);
    return text;
}

std::string FormatReport(const ObservedStart& start) {
    std::string out = "{\n";
    out += "  \"program\": " + JsonString(start.program) + ",\n";
    out += "  \"command_line\": " + JsonString(start.commandLine) + ",\n";
    out += "  \"argv\": [";
    for (size_t i = 0; i < start.argv.size(); ++i) {
        out += (i == 0 ? "" : ", ") + JsonString(start.argv[i]);
    }
    out += "],\n";
    out += "  \"current_directory\": " + JsonString(start.currentDirectory) + ",\n";
    out += "  \"config_path\": " + JsonString(start.configPath) + ",\n";
    out += std::string("  \"config_read\": ") + (start.configRead ? "true" : "false") + ",\n";
    out += "  \"config_hex\": \"" + HexBytes(start.configBytes) + "\",\n";
    out += "  \"config_text\": " + JsonString(WideFromUtf8(start.configBytes)) + ",\n";
    out += "  \"stay_seconds\": " + std::to_string(start.staySeconds) + ",\n";
    out += "  \"process_id\": " + std::to_string(start.processId) + "\n";
    return out + "}\n";
}

std::wstring ReportFolder(const std::wstring& programPath) {
    size_t own = programPath.find_last_of(L"\\/");
    if (own == std::wstring::npos) {
        return L".";
    }
    size_t above = own == 0 ? std::wstring::npos : programPath.find_last_of(L"\\/", own - 1);
    if (above == std::wstring::npos) {
        return programPath.substr(0, own);
    }
    return programPath.substr(0, above);
}

unsigned StaySeconds(const std::string& markerText) {
    unsigned seconds = 0;
    for (char c : markerText) {
        if (c < '0' || c > '9') {
            break;
        }
        seconds = seconds * 10 + static_cast<unsigned>(c - '0');
        if (seconds >= kLongestStay) {
            return kLongestStay;
        }
    }
    return seconds;
}
