#include "tools/pack/resource_tree.h"

#include <algorithm>
#include <map>

#include "common/little_endian.h"

namespace {

constexpr uint32_t kHighBit = 0x80000000u;
constexpr int kLanguageLevel = 2;            // type 0, name 1, language 2
constexpr size_t kLargestEntryCount = 4096;  // far more than any program carries

struct TreeReader {
    const std::vector<unsigned char>& section;
    uint32_t address;
    std::string error;
    size_t entries = 0;
};

bool Fits(const TreeReader& reader, uint64_t offset, uint64_t length) {
    return offset + length <= reader.section.size();
}

bool ReadName(TreeReader& reader, uint32_t offset, ResourceNode& node) {
    if (!Fits(reader, offset, 2) ||
        !Fits(reader, offset + 2ull, 2ull * ReadLe16(reader.section.data() + offset))) {
        reader.error = "a resource name lies outside the resource section";
        return false;
    }
    const unsigned char* p = reader.section.data() + offset;
    node.named = true;
    for (size_t i = 0; i < ReadLe16(p); ++i) {
        node.name.push_back(static_cast<char16_t>(ReadLe16(p + 2 + 2 * i)));
    }
    return true;
}

bool ReadLeaf(TreeReader& reader, uint32_t offset, ResourceNode& node) {
    if (!Fits(reader, offset, 16)) {
        reader.error = "a resource's data entry lies outside the resource section";
        return false;
    }
    const unsigned char* p = reader.section.data() + offset;
    uint32_t address = ReadLe32(p);
    uint32_t size = ReadLe32(p + 4);
    if (address < reader.address || !Fits(reader, uint64_t{address} - reader.address, size)) {
        reader.error = "a resource's data lies outside the resource section";
        return false;
    }
    auto start = reader.section.begin() + (address - reader.address);
    node.leaf = true;
    node.codePage = ReadLe32(p + 8);
    node.data.assign(start, start + size);
    return true;
}

bool ReadDirectory(TreeReader& reader, uint32_t offset, int level, ResourceNode& node) {
    const unsigned char* p = reader.section.data() + (Fits(reader, offset, 16) ? offset : 0);
    size_t count = Fits(reader, offset, 16) ? size_t{ReadLe16(p + 12)} + ReadLe16(p + 14) : 0;
    reader.entries += count;
    if (!Fits(reader, offset, 16 + 8 * count) || reader.entries > kLargestEntryCount) {
        reader.error = "a resource directory lies outside the resource section";
        return false;
    }
    for (size_t i = 0; i < count; ++i) {
        uint32_t nameField = ReadLe32(p + 16 + 8 * i);
        uint32_t dataField = ReadLe32(p + 20 + 8 * i);
        ResourceNode child;
        child.id = static_cast<uint16_t>(nameField);
        if ((nameField & kHighBit) != 0 && !ReadName(reader, nameField & ~kHighBit, child)) {
            return false;
        }
        bool subdirectory = (dataField & kHighBit) != 0;
        if (subdirectory != (level < kLanguageLevel)) {
            reader.error = "the resources are not a tree of types, names and languages";
            return false;
        }
        if (subdirectory ? !ReadDirectory(reader, dataField & ~kHighBit, level + 1, child)
                         : !ReadLeaf(reader, dataField, child)) {
            return false;
        }
        node.children.push_back(std::move(child));
    }
    return true;
}

// Names first, in order of their text, then numbers in ascending order.
void SortTree(ResourceNode& node) {
    std::stable_sort(node.children.begin(), node.children.end(),
                     [](const ResourceNode& a, const ResourceNode& b) {
                         if (a.named != b.named) {
                             return a.named;
                         }
                         return a.named ? a.name < b.name : a.id < b.id;
                     });
    for (ResourceNode& child : node.children) {
        SortTree(child);
    }
}

uint32_t Align8(uint32_t value) {
    return (value + 7) & ~7u;
}

void PutLe16(std::vector<unsigned char>& out, size_t at, uint32_t value) {
    out[at] = static_cast<unsigned char>(value);
    out[at + 1] = static_cast<unsigned char>(value >> 8);
}

void PutLe32(std::vector<unsigned char>& out, size_t at, uint32_t value) {
    PutLe16(out, at, value & 0xFFFF);
    PutLe16(out, at + 2, value >> 16);
}

// Where each part of the section goes.
struct SectionPlan {
    std::vector<const ResourceNode*> directories;  // breadth first
    std::vector<const ResourceNode*> leaves;
    std::vector<const ResourceNode*> names;
    std::map<const ResourceNode*, uint32_t> offset;      // of a directory or a data entry
    std::map<const ResourceNode*, uint32_t> nameOffset;  // of a named entry's name
    std::map<const ResourceNode*, uint32_t> dataOffset;  // of a leaf's bytes
    uint32_t size = 0;
};

SectionPlan PlanSection(const ResourceNode& root) {
    SectionPlan plan;
    plan.directories.push_back(&root);
    for (size_t i = 0; i < plan.directories.size(); ++i) {
        const ResourceNode* directory = plan.directories[i];
        plan.offset[directory] = plan.size;
        plan.size += 16 + 8 * static_cast<uint32_t>(directory->children.size());
        for (const ResourceNode& child : directory->children) {
            (child.leaf ? plan.leaves : plan.directories).push_back(&child);
            if (child.named) {
                plan.names.push_back(&child);
            }
        }
    }
    for (const ResourceNode* leaf : plan.leaves) {
        plan.offset[leaf] = plan.size;
        plan.size += 16;
    }
    for (const ResourceNode* named : plan.names) {
        plan.nameOffset[named] = plan.size;
        plan.size += 2 + 2 * static_cast<uint32_t>(named->name.size());
    }
    for (const ResourceNode* leaf : plan.leaves) {
        plan.size = Align8(plan.size);
        plan.dataOffset[leaf] = plan.size;
        plan.size += static_cast<uint32_t>(leaf->data.size());
    }
    return plan;
}

void WriteDirectory(const SectionPlan& plan, const ResourceNode& directory,
                    std::vector<unsigned char>& out) {
    uint32_t at = plan.offset.at(&directory);
    size_t named =
        static_cast<size_t>(std::count_if(directory.children.begin(), directory.children.end(),
                                          [](const ResourceNode& child) { return child.named; }));
    PutLe16(out, at + 12, static_cast<uint32_t>(named));
    PutLe16(out, at + 14, static_cast<uint32_t>(directory.children.size() - named));
    for (size_t i = 0; i < directory.children.size(); ++i) {
        const ResourceNode& child = directory.children[i];
        uint32_t name = child.named ? (kHighBit | plan.nameOffset.at(&child)) : child.id;
        uint32_t target = plan.offset.at(&child);
        PutLe32(out, at + 16 + 8 * i, name);
        PutLe32(out, at + 20 + 8 * i, child.leaf ? target : (kHighBit | target));
    }
}

}  // namespace

bool ReadResourceTree(const std::vector<unsigned char>& section, uint32_t sectionAddress,
                      ResourceNode& root, std::string& error) {
    TreeReader reader{section, sectionAddress, std::string()};
    ResourceNode result;
    if (!ReadDirectory(reader, 0, 0, result)) {
        error = reader.error;
        return false;
    }
    root = std::move(result);
    return true;
}

std::vector<unsigned char> WriteResourceTree(const ResourceNode& tree, uint32_t sectionAddress) {
    ResourceNode root = tree;
    SortTree(root);
    SectionPlan plan = PlanSection(root);
    std::vector<unsigned char> out(plan.size, 0);
    for (const ResourceNode* directory : plan.directories) {
        WriteDirectory(plan, *directory, out);
    }
    for (const ResourceNode* leaf : plan.leaves) {
        uint32_t at = plan.offset.at(leaf);
        PutLe32(out, at, sectionAddress + plan.dataOffset.at(leaf));
        PutLe32(out, at + 4, static_cast<uint32_t>(leaf->data.size()));
        PutLe32(out, at + 8, leaf->codePage);
        std::copy(leaf->data.begin(), leaf->data.end(), out.begin() + plan.dataOffset.at(leaf));
    }
    for (const ResourceNode* named : plan.names) {
        uint32_t at = plan.nameOffset.at(named);
        PutLe16(out, at, static_cast<uint32_t>(named->name.size()));
        for (size_t i = 0; i < named->name.size(); ++i) {
            PutLe16(out, at + 2 + 2 * i, named->name[i]);
        }
    }
    return out;
}

ResourceNode* FindResourceChild(ResourceNode& node, uint16_t id) {
    for (ResourceNode& child : node.children) {
        if (!child.named && child.id == id) {
            return &child;
        }
    }
    return nullptr;
}

const ResourceNode* FindResourceChild(const ResourceNode& node, uint16_t id) {
    return FindResourceChild(const_cast<ResourceNode&>(node), id);
}

const ResourceNode* FirstResourceLeaf(const ResourceNode& node) {
    if (node.leaf) {
        return &node;
    }
    return node.children.empty() ? nullptr : FirstResourceLeaf(node.children.front());
}

ResourceNode* FirstResourceLeaf(ResourceNode& node) {
    return const_cast<ResourceNode*>(FirstResourceLeaf(static_cast<const ResourceNode&>(node)));
}
