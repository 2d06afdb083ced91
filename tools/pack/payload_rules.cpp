#include "tools/pack/payload_rules.h"

#include <algorithm>

#include "common/ascii_text.h"
#include "common/path_components.h"

namespace {

std::string Lower(const std::string& text) {
    std::string lower = text;
    std::transform(lower.begin(), lower.end(), lower.begin(), FoldAscii<char>);
    return lower;
}

std::vector<std::string> Components(const std::string& name) {
    std::vector<std::string> parts(1);
    for (char c : name) {
        if (IsPathSeparator(c)) {
            parts.emplace_back();
        } else {
            parts.back().push_back(c);
        }
    }
    return parts;
}

// The platform opens a device for these base names, whatever the extension.
bool IsDeviceName(const std::string& component) {
    std::string base = Lower(component.substr(0, component.find('.')));
    while (!base.empty() && base.back() == ' ') {
        base.pop_back();
    }
    static const char* const kDevices[] = {"con", "prn", "aux", "nul", "conin$", "conout$"};
    for (const char* device : kDevices) {
        if (base == device) {
            return true;
        }
    }
    return base.size() == 4 && (base.compare(0, 3, "com") == 0 || base.compare(0, 3, "lpt") == 0) &&
           base[3] >= '1' && base[3] <= '9';
}

bool OnlyDotsAndSpaces(const std::string& component) {
    return !component.empty() && component.find_first_not_of(". ") == std::string::npos;
}

}  // namespace

size_t Utf16Length(const std::string& utf8) {
    size_t units = 0;
    for (unsigned char c : utf8) {
        if ((c & 0xC0) != 0x80) {
            units += (c >= 0xF0) ? 2 : 1;
        }
    }
    return units;
}

std::string EntryNameProblem(const std::string& name) {
    if (name.empty() || name[0] == '/' || name[0] == '\\') {
        return "it starts at the root, outside the work folder";
    }
    if (name.find(':') != std::string::npos) {
        return "it holds ':' (a drive letter or stream name)";
    }
    if (!IsValidUtf8(name)) {
        return "it is not valid UTF-8";
    }
    std::vector<std::string> parts = Components(name);
    if (parts.size() > 1 && parts.back().empty() && name.back() == '/') {
        parts.pop_back();  // a folder's trailing "/"
    }
    for (const std::string& part : parts) {
        if (part.empty()) {
            return "it has an empty path component";
        }
        if (OnlyDotsAndSpaces(part)) {
            return "its component \"" + part + "\" leads outside the work folder";
        }
        if (IsDeviceName(part)) {
            return "its component \"" + part + "\" names a Windows device";
        }
    }
    if (Utf16Length(name) > kMaximumEntryNameCharacters) {
        return "it is " + std::to_string(Utf16Length(name)) + " characters long, more than the " +
               std::to_string(kMaximumEntryNameCharacters) +
               " that leave room for the temporary folder in the launcher's 259";
    }
    return std::string();
}

bool SameNameIgnoringCase(const std::string& a, const std::string& b) {
    return EqualIgnoringAsciiCase(std::string_view(a), std::string_view(b));
}

ClientChoice ChooseClient(const std::vector<std::string>& fileNames) {
    auto has = [&](const char* wanted) {
        return std::any_of(fileNames.begin(), fileNames.end(), [&](const std::string& name) {
            return SameNameIgnoringCase(name, wanted);
        });
    };
    if (has("bin/velmar.exe")) {
        return {"bin/velmar.exe", "properties/offlineplayback.pbcf"};
    }
    if (has("bin/launcher.exe")) {
        return {"bin/launcher.exe", "properties/offlineplayback.pbrd"};
    }
    return {};
}

std::string MissingClientProblem(const std::vector<std::string>& fileNames) {
    std::string common;
    for (const std::string& name : fileNames) {
        std::string top = name.substr(0, name.find('/') + 1);
        if (top.empty() || (!common.empty() && top != common)) {
            common.clear();
            break;
        }
        common = top;
    }
    std::string problem =
        "the payload has no bin/velmar.exe and no bin/launcher.exe at its top, so the launcher "
        "would start nothing";
    if (!common.empty()) {
        std::vector<std::string> inner;
        inner.reserve(fileNames.size());
        for (const std::string& name : fileNames) {
            inner.push_back(name.substr(common.size()));
        }
        if (!ChooseClient(inner).program.empty()) {
            problem += ": everything lies in the folder " + common +
                       ", which holds bin/ - pack that folder instead";
        }
    }
    return problem;
}

bool IsRewrittenFile(const std::string& name, const ClientChoice& client) {
    return (!client.configuration.empty() && SameNameIgnoringCase(name, client.configuration)) ||
           SameNameIgnoringCase(name, "eventname.prop");
}

bool IsValidUtf8(const std::string& bytes) {
    size_t i = 0;
    while (i < bytes.size()) {
        unsigned char lead = static_cast<unsigned char>(bytes[i]);
        size_t follow = lead < 0x80             ? 0
                        : (lead & 0xE0) == 0xC0 ? 1
                        : (lead & 0xF0) == 0xE0 ? 2
                        : (lead & 0xF8) == 0xF0 ? 3
                                                : 9;
        if (follow == 9 || (follow == 1 && lead < 0xC2) || follow > bytes.size() - i - 1) {
            return false;
        }
        for (size_t k = 1; k <= follow; ++k) {
            if ((static_cast<unsigned char>(bytes[i + k]) & 0xC0) != 0x80) {
                return false;
            }
        }
        i += follow + 1;
    }
    return true;
}

std::string TextFileProblem(const std::string& bytes) {
    if (bytes.size() >= 2 &&
        (bytes.compare(0, 2, "\xFF\xFE") == 0 || bytes.compare(0, 2, "\xFE\xFF") == 0)) {
        return "it is UTF-16 text, but the launcher reads UTF-8: save it as UTF-8";
    }
    if (!IsValidUtf8(bytes)) {
        return "it is not UTF-8 text: save it as UTF-8";
    }
    if (bytes.find('\0') != std::string::npos) {
        return "it holds zero bytes, which UTF-8 text does not: save it as UTF-8";
    }
    return std::string();
}

bool IsCompressedByName(const std::string& name) {
    static const char* const kSuffixes[] = {
        ".zip",   ".cab", ".7z",   ".gz",   ".tgz",  ".bz2",  ".xz",   ".zst",  ".rar",
        ".jar",   ".jpg", ".jpeg", ".png",  ".gif",  ".webp", ".avif", ".heic", ".jxl",
        ".mp3",   ".mp4", ".m4a",  ".m4v",  ".mov",  ".avi",  ".mkv",  ".webm", ".ogg",
        ".oga",   ".ogv", ".opus", ".aac",  ".flac", ".wma",  ".wmv",  ".mts",  ".woff",
        ".woff2", ".pdf", ".docx", ".xlsx", ".pptx", ".swf",  ".flv",  ".f4v",  ".3gp"};
    std::string lower = Lower(name);
    for (const char* suffix : kSuffixes) {
        std::string s(suffix);
        if (lower.size() > s.size() && lower.compare(lower.size() - s.size(), s.size(), s) == 0) {
            return true;
        }
    }
    return false;
}

bool NeedsUtf8Flag(const std::string& name) {
    return std::any_of(name.begin(), name.end(),
                       [](char c) { return static_cast<unsigned char>(c) >= 0x80; });
}

namespace {

std::string MethodName(uint16_t method) {
    switch (method) {
        case 9:
            return "Deflate64";
        case 12:
            return "bzip2";
        case 14:
            return "LZMA";
        case 93:
            return "Zstandard";
        case 95:
            return "xz";
        case 98:
            return "PPMd";
        default:
            return "method " + std::to_string(method);
    }
}

}  // namespace

std::string ZipEntryProblem(const std::string& shown, bool encrypted, uint16_t method) {
    std::string nameProblem = EntryNameProblem(shown);
    if (!nameProblem.empty()) {
        return "the launcher would not extract " + shown + ": " + nameProblem + " - rename it";
    }
    if (encrypted || method == 99) {
        return "the entry " + shown +
               " is encrypted, and the launcher has no password - zip it without one";
    }
    if (method != 0 && method != 8) {
        return "the entry " + shown + " is compressed with " + MethodName(method) +
               ", which the launcher cannot extract - zip it again with Deflate (zip -Z deflate, "
               "7z -mm=Deflate) or give the folder";
    }
    return std::string();
}

std::string RewrittenFileProblem(const std::string& name, bool readOnly, const std::string& bytes) {
    if (readOnly) {
        return name +
               " is read-only, but the launcher rewrites it: every user would get "
               "problem 201 - make it writable";
    }
    std::string problem = TextFileProblem(bytes);
    return problem.empty() ? problem : name + ": " + problem;
}
