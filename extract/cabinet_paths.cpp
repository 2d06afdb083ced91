#include "extract/cabinet_paths.h"

#include <cstring>
#include <new>

#include "common/path_components.h"

namespace {

void Clear(char (&out)[kCabinetPathCapacity]) {
    std::memset(out, 0, kCabinetPathCapacity);
}

}  // namespace

std::unique_ptr<char[]> GetParentPath(const char* path) {
    size_t length = path != nullptr ? std::strlen(path) : 0;
    size_t cut = 0;
    if (length > 0) {
        cut = length - 1;
        while (cut > 0 && path[cut] != '\\') {
            --cut;
        }
    }
    std::unique_ptr<char[]> parent(new (std::nothrow) char[cut + 1]);
    if (parent == nullptr) {
        return nullptr;
    }
    if (cut > 0) {
        std::memcpy(parent.get(), path, cut);
    }
    parent[cut] = '\0';
    return parent;
}

bool FormDestinationFolder(const char* folder, char (&out)[kCabinetPathCapacity]) {
    Clear(out);
    size_t length = folder != nullptr ? std::strlen(folder) : 0;
    if (length == 0) {
        return false;
    }
    bool needsSeparator = folder[length - 1] != '\\';
    if (length + (needsSeparator ? 1 : 0) >= kCabinetPathCapacity) {
        return false;
    }
    std::memcpy(out, folder, length);
    if (needsSeparator) {
        out[length] = '\\';
    }
    return true;
}

bool SplitCabinetPath(const char* cabinet, char (&folderPart)[kCabinetPathCapacity],
                      char (&namePart)[kCabinetPathCapacity]) {
    Clear(folderPart);
    Clear(namePart);
    if (cabinet == nullptr) {
        return false;
    }
    const char* lastSeparator = std::strrchr(cabinet, '\\');
    size_t folderLength = lastSeparator != nullptr ? (lastSeparator - cabinet) + 1 : 0;
    size_t nameLength = std::strlen(cabinet + folderLength);
    if (folderLength >= kCabinetPathCapacity || nameLength >= kCabinetPathCapacity) {
        return false;
    }
    std::memcpy(folderPart, cabinet, folderLength);
    std::memcpy(namePart, cabinet + folderLength, nameLength);
    return true;
}

bool JoinMemberPath(const char* destination, const char* memberName,
                    char (&out)[kCabinetPathCapacity]) {
    Clear(out);
    if (destination == nullptr || memberName == nullptr) {
        return false;
    }
    size_t destinationLength = std::strlen(destination);
    if (!JoinFolderAndName(destination, memberName, std::strlen(memberName), out,
                           kCabinetPathCapacity)) {
        return false;
    }
    for (char* c = out + destinationLength; *c != '\0'; ++c) {
        *c = *c == '/' ? '\\' : *c;
    }
    return true;
}
