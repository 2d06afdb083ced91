#pragma once
// The payload paths left out with -x PATTERN. A pattern is matched against
// the whole payload-relative path ("/" separators, no leading "./"): "*"
// matches any run of characters, "/" included, as in zip's -x, and "?" any
// one character; every other character (letter case too) must be the same.
// A pattern that matches a folder leaves out the folder and all below it; a
// pattern that ends in "/" matches folders only.
#include <string>
#include <vector>

// Whether the pattern matches the whole path (both UTF-8).
bool PatternMatches(const std::string& pattern, const std::string& path);

class PayloadExclusion {
  public:
    PayloadExclusion() = default;
    explicit PayloadExclusion(const std::vector<std::string>& patterns);

    bool Empty() const { return patterns_.empty(); }
    // The pattern (as typed) that leaves out the entry of this stored name (a
    // folder's ends in "/"), matching it or a folder above it; null when the
    // entry is kept.
    const std::string* Excluding(const std::string& entryName) const;

  private:
    struct Pattern {
        std::string typed;
        std::string glob;  // without a leading "./" and a trailing "/"
        bool foldersOnly = false;
    };
    std::vector<Pattern> patterns_;
};
