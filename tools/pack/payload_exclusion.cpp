#include "tools/pack/payload_exclusion.h"

namespace {

// The length of the UTF-8 character at text[at] (1 for a stray byte).
size_t CharacterLength(const std::string& text, size_t at) {
    size_t length = 1;
    while (at + length < text.size() &&
           (static_cast<unsigned char>(text[at + length]) & 0xC0) == 0x80) {
        ++length;
    }
    return length;
}

}  // namespace

bool PatternMatches(const std::string& pattern, const std::string& path) {
    // Greedy matching with one point to come back to: the last "*" seen and
    // where in the path it stopped matching.
    size_t p = 0;
    size_t s = 0;
    size_t starAt = std::string::npos;
    size_t starPath = 0;
    while (s < path.size()) {
        if (p < pattern.size() && pattern[p] == '*') {
            starAt = p++;
            starPath = s;
        } else if (p < pattern.size() && pattern[p] == '?') {
            ++p;
            s += CharacterLength(path, s);
        } else if (p < pattern.size() && pattern[p] == path[s]) {
            ++p;
            ++s;
        } else if (starAt != std::string::npos) {
            p = starAt + 1;
            starPath += CharacterLength(path, starPath);
            s = starPath;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == '*') {
        ++p;
    }
    return p == pattern.size();
}

PayloadExclusion::PayloadExclusion(const std::vector<std::string>& patterns) {
    for (const std::string& typed : patterns) {
        Pattern pattern{typed, typed, false};
        while (pattern.glob.rfind("./", 0) == 0) {
            pattern.glob.erase(0, 2);
        }
        while (!pattern.glob.empty() && pattern.glob.back() == '/') {
            pattern.glob.pop_back();
            pattern.foldersOnly = true;
        }
        patterns_.push_back(pattern);
    }
}

const std::string* PayloadExclusion::Excluding(const std::string& entryName) const {
    // The entry's own path and that of each folder above it.
    for (size_t end = entryName.find('/');; end = entryName.find('/', end + 1)) {
        bool isFolder = end != std::string::npos;
        std::string path = entryName.substr(0, end);
        for (const Pattern& pattern : patterns_) {
            if ((isFolder || !pattern.foldersOnly) && !path.empty() &&
                PatternMatches(pattern.glob, path)) {
                return &pattern.typed;
            }
        }
        if (!isFolder || end + 1 >= entryName.size()) {
            return nullptr;
        }
    }
}
