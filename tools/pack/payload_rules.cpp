#include "tools/pack/payload_rules.h"

#include <algorithm>

#include "common/ascii_text.h"
#include "common/path_components.h"
#include "package/payload_names.h"
#include "tools/pack/native_text.h"

namespace {

std::string Lower(const std::string& text) {
    std::string lower = text;
    std::transform(lower.begin(), lower.end(), lower.begin(), FoldAscii<char>);
    return lower;
}

// A name of the shared list ("\\" separators) as the payload's names are
// written ("/").
std::string PayloadName(const char* name) {
    std::string slashed(name);
    std::replace(slashed.begin(), slashed.end(), '\\', '/');
    return slashed;
}

const char* NameVerdictText(EntryNameVerdict verdict) {
    switch (verdict) {
        case EntryNameVerdict::Empty:
        case EntryNameVerdict::StartsAtRoot:
            return "it starts at the root, outside the work folder";
        case EntryNameVerdict::HoldsColon:
            return "it holds ':' (a drive letter or stream name)";
        case EntryNameVerdict::LeadsOutside:
            return "a component made of dots and blanks leads outside the work folder";
        case EntryNameVerdict::NamesDevice:
            return "a component names a Windows device";
        default:
            return "";
    }
}

// The bound a name passes below the longest work folder, or empty.
std::string LengthProblem(const std::string& name) {
    if (name.size() > kLongestStoredName) {
        return "it is " + std::to_string(name.size()) + " bytes long in UTF-8, more than the " +
               std::to_string(kLongestStoredName) + " the launcher reads";
    }
    if (NestedArchiveKindOf(std::string_view(name)) == NestedArchiveKind::Cabinet &&
        !CabinetPathFits(std::string(kLongestWorkFolder, 'w') + "/" + name)) {
        return "it is a cabinet whose folder or name below a work folder of " +
               std::to_string(kLongestWorkFolder) + " characters passes the " +
               std::to_string(kLongestCabinetLibraryText) +
               " bytes (UTF-8) the cabinet library takes";
    }
    PathBound bound = EntryPathBound(kLongestWorkFolder, std::string_view(name));
    if (bound == PathBound::Fits) {
        return std::string();
    }
    bool folder = bound == PathBound::Folder;
    bool folderEntry = name.back() == '/' || name.back() == '\\';
    std::string part = folderEntry ? name.substr(0, name.size() - 1) : name;
    if (folder && !folderEntry) {
        part = part.substr(0, part.find_last_of("/\\"));
    }
    return std::string(folder ? "its folder part is " : "it is ") +
           std::to_string(Utf16Length(part)) + " characters long, more than the " +
           std::to_string(folder ? kLongestEntryFolderPart : kLongestEntryName) +
           " that fit below a work folder of " + std::to_string(kLongestWorkFolder) +
           " characters in Windows' " + std::to_string(PathBoundLimit(bound)) + " for a " +
           (folder ? "folder" : "file") + " path";
}

}  // namespace

std::string EntryNameProblem(const std::string& name) {
    if (!IsValidUtf8(name)) {
        return "it is not valid UTF-8";
    }
    EntryNameVerdict verdict = JudgeEntryName(std::string_view(name));
    if (verdict != EntryNameVerdict::Inside) {
        return NameVerdictText(verdict);
    }
    return LengthProblem(name);
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
    for (bool playback : {true, false}) {
        std::string program =
            PayloadName(playback ? VELMAR_PLAYBACK_CLIENT : VELMAR_ALTERNATIVE_CLIENT);
        if (has(program.c_str())) {
            return {program, PayloadName(playback ? VELMAR_PLAYBACK_CONFIGURATION
                                                  : VELMAR_ALTERNATIVE_CONFIGURATION)};
        }
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
           SameNameIgnoringCase(name, VELMAR_EVENT_NAME_FILE);
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

// Why the launcher cannot take the stored bytes as the name of a file, or empty.
std::string StoredNameProblem(const std::string& stored, bool utf8Flag) {
    switch (JudgeStoredName(stored, utf8Flag)) {
        case StoredNameVerdict::TooLong:
            return "its stored name is " + std::to_string(stored.size()) +
                   " bytes long, more than the " + std::to_string(kLongestStoredName) +
                   " the launcher reads";
        case StoredNameVerdict::HoldsNul:
            return "its stored name holds a zero byte";
        case StoredNameVerdict::NotUtf8:
            return "it is flagged as UTF-8 but is not valid UTF-8";
        default:
            break;
    }
    if (DependsOnCodePage(stored, utf8Flag)) {
        return "its name is not flagged as UTF-8, so each machine reads it in its own code page "
               "(zip it again with UTF-8 names, or give the folder)";
    }
    return std::string();
}

std::string ZipEntryProblem(const std::string& stored, bool utf8Flag, bool folder, bool encrypted,
                            uint16_t method) {
    std::string shown = StoredNameToUtf8(stored, utf8Flag);
    std::string nameProblem = StoredNameProblem(stored, utf8Flag);
    if (nameProblem.empty()) {
        bool slashed = !stored.empty() && (stored.back() == '/' || stored.back() == '\\');
        nameProblem = EntryNameProblem(folder && !slashed ? stored + "/" : stored);
    }
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
