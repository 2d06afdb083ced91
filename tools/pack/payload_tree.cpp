#include "tools/pack/payload_tree.h"

#include <algorithm>
#include <system_error>

#include "tools/pack/native_text.h"
#include "tools/pack/payload_rules.h"

namespace {

namespace fs = std::filesystem;

struct Child {
    fs::path path;
    std::string storedName;  // the child's own name, as the launcher reads it
};

// The folder's children, sorted by their stored names.
bool ListChildren(const fs::path& folder, std::vector<Child>& children, std::string& error) {
    std::error_code failure;
    fs::directory_iterator it(folder, failure);
    fs::directory_iterator end;
    for (; !failure && it != end; it.increment(failure)) {
        Child child;
        child.path = it->path();
        std::string nameError;
        if (!FileNameToUtf8(child.path.filename(), child.storedName, nameError)) {
            error = "the name of " + PathToUtf8(child.path) + " cannot be stored: " + nameError;
            return false;
        }
        children.push_back(child);
    }
    if (failure) {
        error = "cannot list the folder " + PathToUtf8(folder) + ": " + failure.message();
        return false;
    }
    std::sort(children.begin(), children.end(),
              [](const Child& a, const Child& b) { return a.storedName < b.storedName; });
    return true;
}

// The entry for one child: a file or a folder (never a link to one) with a
// name the launcher extracts. A child left out is not looked at further.
bool ChildEntry(const Child& child, const std::string& folderName, TreeWalk& walk,
                PayloadEntry& entry, std::string& error) {
    std::string factsError;
    if (!ReadFileFacts(child.path, entry.facts, factsError)) {
        error = "cannot read " + PathToUtf8(child.path) + ": " + factsError;
        return false;
    }
    bool isDirectory = entry.facts.isDirectory;
    entry.name = ChildEntryName(folderName, child.storedName, isDirectory);
    const std::string* pattern = walk.exclusion.Excluding(entry.name);
    if (pattern != nullptr) {
        walk.leftOut.push_back(entry.name + " (-x " + *pattern + ")");
        entry.name.clear();
        return true;
    }
    // Links to folders could make the walk endless.
    if (isDirectory && entry.facts.isLink) {
        error = PathToUtf8(child.path) + " is a link to a folder, which is not followed";
        return false;
    }
    std::error_code failure;
    fs::file_status target = fs::status(child.path, failure);
    if (!isDirectory && (failure || !fs::is_regular_file(target))) {
        error = PathToUtf8(child.path) + " is neither a file nor a folder";
        return false;
    }
    entry.nameIsUtf8 = NeedsUtf8Flag(entry.name);
    entry.source = child.path;
    std::string nameProblem = EntryNameProblem(entry.name);
    if (!nameProblem.empty()) {
        error =
            "the launcher would not extract " + entry.name + ": " + nameProblem + " - rename it";
        return false;
    }
    return true;
}

bool CollectFolder(const fs::path& folder, const std::string& folderName, TreeWalk& walk,
                   std::vector<PayloadEntry>& entries, std::string& error) {
    std::vector<Child> children;
    if (!ListChildren(folder, children, error)) {
        return false;
    }
    for (const Child& child : children) {
        PayloadEntry entry;
        if (!ChildEntry(child, folderName, walk, entry, error)) {
            return false;
        }
        if (entry.name.empty()) {
            continue;
        }
        if (entries.size() >= kMaximumEntryCount) {
            error = "the payload has more than " + std::to_string(kMaximumEntryCount) +
                    " files and folders";
            return false;
        }
        entries.push_back(entry);
        if (entry.facts.isDirectory &&
            !CollectFolder(child.path, entry.name, walk, entries, error)) {
            return false;
        }
    }
    return true;
}

}  // namespace

std::string ChildEntryName(const std::string& folderName, const std::string& childName,
                           bool isDirectory) {
    return folderName + childName + (isDirectory ? "/" : "");
}

bool CollectPayloadTree(const fs::path& root, TreeWalk& walk, std::vector<PayloadEntry>& entries,
                        std::string& error) {
    entries.clear();
    walk.leftOut.clear();
    return CollectFolder(root, std::string(), walk, entries, error);
}
