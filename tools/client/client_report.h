#pragma once
// The stand-in playback client's record of how it was started, as JSON text.
#include <string>
#include <vector>

constexpr const wchar_t* kReportFileName = L"client_report.txt";
constexpr const wchar_t* kStayMarkerName = L"stay_running.txt";
constexpr const wchar_t* kReleaseFileName = L"release_client.txt";  // ends a stay early
constexpr const wchar_t* kReportVariable = L"VELMAR_CLIENT_REPORT";
constexpr unsigned kLongestStay = 3600;  // seconds

struct ObservedStart {
    std::wstring program;            // the running executable's path
    std::wstring commandLine;        // the whole command line, as given
    std::vector<std::wstring> argv;  // the command line split the usual way
    std::wstring currentDirectory;
    std::wstring configPath;  // the first argument, empty when there is none
    bool configRead = false;  // whether configBytes holds the whole file
    std::string configBytes;
    unsigned staySeconds = 0;
    unsigned long processId = 0;
};

// A JSON string literal (quotes included) for text; everything outside
// printable ASCII is written as \uXXXX, so the result is plain ASCII.
std::string JsonString(const std::wstring& text);
// Lower-case hexadecimal digits, two per byte.
std::string HexBytes(const std::string& bytes);
// UTF-8 to UTF-16; malformed sequences become U+FFFD.
std::wstring WideFromUtf8(const std::string& bytes);
// The JSON object that describes one start.
std::string FormatReport(const ObservedStart& start);
// The folder the report and the marker belong in: the one above the program's
// own folder (the work folder, for <work folder>\bin\velmar.exe).
std::wstring ReportFolder(const std::wstring& programPath);
// The stay time in a marker's text: its leading decimal digits, at most
// kLongestStay; 0 when it starts with no digit.
unsigned StaySeconds(const std::string& markerText);
