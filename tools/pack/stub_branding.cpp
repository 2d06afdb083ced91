#include "tools/pack/stub_branding.h"

#include <algorithm>

#include "package/package_layout.h"
#include "tools/pack/file_facts.h"
#include "tools/pack/icon_resource.h"
#include "tools/pack/native_text.h"
#include "tools/pack/payload_rules.h"
#include "tools/pack/pe_image.h"
#include "tools/pack/resource_tree.h"
#include "tools/pack/version_resource.h"

namespace {

constexpr size_t kLongestText = 256;     // characters
constexpr uint16_t kEnglishUs = 0x0409;  // for resources of a stub that has none to copy

// The resource section of a stub, taken apart.
struct StubResources {
    PeSection section;
    ResourceNode tree;
};

bool LoadResources(const std::vector<unsigned char>& stub, StubResources& resources,
                   std::string& error) {
    PeImage pe;
    if (!ReadPeImage(stub, pe, error)) {
        return false;
    }
    int index = ResourceSectionIndex(stub, pe);
    if (index < 0) {
        error = "it has no resource section";
        return false;
    }
    resources.section = pe.sections[static_cast<size_t>(index)];
    uint32_t length = std::min(resources.section.virtualSize, resources.section.rawSize);
    auto start = stub.begin() + resources.section.rawPointer;
    std::vector<unsigned char> bytes(start, start + length);
    return ReadResourceTree(bytes, resources.section.virtualAddress, resources.tree, error);
}

// The stub with tree as its resources; false, with the reason, when it cannot take them.
bool Rebuild(const std::vector<unsigned char>& stub, const StubResources& resources,
             const ResourceNode& tree, std::vector<unsigned char>& rebuilt, std::string& error) {
    rebuilt = stub;
    return ReplaceResourceSection(rebuilt,
                                  WriteResourceTree(tree, resources.section.virtualAddress), error);
}

// One text of the version information: UTF-8 without control characters, not too long.
std::string CheckText(const char* option, const std::string& text) {
    if (!IsValidUtf8(text)) {
        return std::string("the ") + option + " text is not UTF-8";
    }
    std::u16string wide = Utf16FromUtf8(text);
    size_t characters = 0;
    for (char16_t c : wide) {
        if (c < 0x20 || (c >= 0x7F && c < 0xA0)) {
            return std::string("the ") + option + " text holds a control character (code " +
                   std::to_string(static_cast<unsigned>(c)) + ") at character " +
                   std::to_string(characters + 1);
        }
        characters += (c >= 0xDC00 && c < 0xE000) ? 0 : 1;
    }
    if (characters > kLongestText) {
        return std::string("the ") + option + " text is " + std::to_string(characters) +
               " characters long: at most " + std::to_string(kLongestText) + " are taken";
    }
    return std::string();
}

// One to four numbers from 0 to 65535, separated by dots.
bool ParseVersion(const std::string& text, FourPartVersion& version) {
    FourPartVersion result;
    size_t part = 0;
    size_t digits = 0;
    uint32_t value = 0;
    for (size_t i = 0; i <= text.size(); ++i) {
        if (i == text.size() || text[i] == '.') {
            if (digits == 0 || part == 4) {
                return false;
            }
            result.part[part++] = static_cast<uint16_t>(value);
            digits = 0;
            value = 0;
        } else if (text[i] >= '0' && text[i] <= '9' && digits < 5) {
            value = value * 10 + static_cast<uint32_t>(text[i] - '0');
            digits += 1;
            if (value > 0xFFFF) {
                return false;
            }
        } else {
            return false;
        }
    }
    version = result;
    return true;
}

std::string CheckVersion(const char* option, const std::string& text) {
    FourPartVersion ignored;
    if (text.empty() || ParseVersion(text, ignored)) {
        return std::string();
    }
    return std::string("the ") + option + " \"" + (IsValidUtf8(text) ? text : "(not UTF-8)") +
           "\" is not one to four numbers from 0 to 65535 separated by dots, such as 2.1.0.7";
}

// The version as the string table shows it: the numbers given, without leading zeros.
std::string VersionStringOf(const std::string& text) {
    FourPartVersion version;
    ParseVersion(text, version);
    std::string shown = std::to_string(version.part[0]);
    for (size_t i = 1, parts = 1 + std::count(text.begin(), text.end(), '.'); i < parts; ++i) {
        shown += "." + std::to_string(version.part[i]);
    }
    return shown;
}

bool SetVersions(VersionBlock& root, const StubBranding& branding) {
    FourPartVersion file, product;
    if (!FixedVersions(root, file, product)) {
        return false;
    }
    std::string fileText =
        branding.fileVersion.empty() ? branding.productVersion : branding.fileVersion;
    if (!branding.productVersion.empty()) {
        ParseVersion(branding.productVersion, product);
        SetVersionString(root, u"ProductVersion", VersionStringOf(branding.productVersion));
    }
    if (!fileText.empty()) {
        ParseVersion(fileText, file);
        SetVersionString(root, u"FileVersion", VersionStringOf(fileText));
    }
    return SetFixedVersions(root, file, product);
}

// The texts and versions into the stub's version information.
std::string ApplyVersionInfo(ResourceNode& tree, const StubBranding& branding,
                             const std::string& originalFileName) {
    ResourceNode* type = FindResourceChild(tree, kResourceVersion);
    ResourceNode* leaf = type == nullptr ? nullptr : FirstResourceLeaf(*type);
    VersionBlock root;
    std::string error = "it has no version information";
    if (leaf == nullptr || !ReadVersionResource(leaf->data, root, error)) {
        return error;
    }
    const std::pair<const char16_t*, const std::string*> texts[] = {
        {u"ProductName", &branding.productName},
        {u"FileDescription", &branding.description},
        {u"CompanyName", &branding.company},
        {u"LegalCopyright", &branding.copyright},
        {u"OriginalFilename", &originalFileName}};
    for (const auto& text : texts) {
        if (!text.second->empty()) {
            SetVersionString(root, text.first, *text.second);
        }
    }
    if (!SetVersions(root, branding)) {
        return "its version information has no fixed file information";
    }
    leaf->data = WriteVersionResource(root);
    return std::string();
}

// Takes the stub's icons and icon groups out. The new group takes the first
// group's name and language (or the version information's language).
ResourceNode RemoveIcons(ResourceNode& tree) {
    ResourceNode group;
    group.id = 1;
    ResourceNode language;
    language.leaf = true;
    language.id = kEnglishUs;
    const ResourceNode* groups = FindResourceChild(tree, kResourceGroupIcon);
    const ResourceNode* version = FindResourceChild(tree, kResourceVersion);
    const ResourceNode* model = groups != nullptr    ? FirstResourceLeaf(*groups)
                                : version != nullptr ? FirstResourceLeaf(*version)
                                                     : nullptr;
    if (groups != nullptr && !groups->children.empty()) {
        group.named = groups->children.front().named;
        group.id = groups->children.front().id;
        group.name = groups->children.front().name;
    }
    language = model != nullptr ? *model : language;
    for (size_t i = tree.children.size(); i-- > 0;) {
        const ResourceNode& type = tree.children[i];
        if (!type.named && (type.id == kResourceIcon || type.id == kResourceGroupIcon)) {
            tree.children.erase(tree.children.begin() + static_cast<std::ptrdiff_t>(i));
        }
    }
    group.children.assign(1, language);
    return group;
}

ResourceNode TypeNode(uint16_t id) {
    ResourceNode type;
    type.id = id;
    return type;
}

// The images as icons 1, 2, ... and one group naming them.
void AddIcons(ResourceNode& tree, ResourceNode group, const std::vector<IconImage>& images) {
    ResourceNode icons = TypeNode(kResourceIcon);
    ResourceNode language = group.children.front();
    for (size_t i = 0; i < images.size(); ++i) {
        ResourceNode icon;
        icon.id = static_cast<uint16_t>(i + 1);
        language.data = images[i].data;
        icon.children.push_back(language);
        icons.children.push_back(icon);
    }
    group.children.front().data = IconGroupBytes(images, 1);
    ResourceNode groups = TypeNode(kResourceGroupIcon);
    groups.children.push_back(group);
    tree.children.push_back(icons);
    tree.children.push_back(groups);
}

std::string TooLarge(const std::string& path, uint64_t iconSize, uint64_t baseSize,
                     uint64_t largestStub) {
    uint64_t room = baseSize < largestStub ? largestStub - baseSize : 0;
    return "the icon " + path + " is " + std::to_string(iconSize) + " bytes, but only " +
           std::to_string(room) + " bytes are left for it: with it the launcher would end past " +
           "offset " + std::to_string(largestStub) +
           ", and the package marker must start by offset " + std::to_string(kMarkerSearchEnd) +
           " - use fewer or PNG-compressed images";
}

// The icon file's images; an empty list, without a reason, for a file too
// large to read, which is refused once the room left for it is known.
std::string ReadIcon(const std::string& path, uint64_t largestStub, std::vector<IconImage>& images,
                     uint64_t& size) {
    std::vector<unsigned char> file;
    std::string error;
    if (!ReadSmallFile(PathFromUtf8(path), "the icon " + path, largestStub, file, size, error)) {
        return error;
    }
    if (size <= largestStub && !ReadIconFile(file, images, error)) {
        return "the icon " + path + " is not an icon: " + error;
    }
    return std::string();
}

// Puts the images in place of the stub's icons, if the stub still fits.
std::string ApplyIcon(const std::vector<unsigned char>& stub, const StubResources& resources,
                      ResourceNode& tree, const std::vector<IconImage>& images,
                      const std::string& path, uint64_t iconSize, uint64_t largestStub) {
    ResourceNode group = RemoveIcons(tree);
    std::vector<unsigned char> base;
    std::string error;
    if (!Rebuild(stub, resources, tree, base, error)) {
        return "the launcher cannot take the branding: " + error;
    }
    if (images.empty()) {
        return TooLarge(path, iconSize, base.size(), largestStub);
    }
    AddIcons(tree, group, images);
    std::vector<unsigned char> branded;
    if (Rebuild(stub, resources, tree, branded, error) && branded.size() > largestStub) {
        return TooLarge(path, iconSize, base.size(), largestStub);
    }
    return std::string();
}

}  // namespace

bool BrandingRequested(const StubBranding& b) {
    return !(b.icon.empty() && b.productName.empty() && b.description.empty() &&
             b.company.empty() && b.copyright.empty() && b.productVersion.empty() &&
             b.fileVersion.empty());
}

std::string CheckBrandingValues(const StubBranding& b) {
    const std::pair<const char*, const std::string*> texts[] = {{"--product-name", &b.productName},
                                                                {"--description", &b.description},
                                                                {"--company", &b.company},
                                                                {"--copyright", &b.copyright}};
    std::string problem;
    for (const auto& text : texts) {
        problem = problem.empty() ? CheckText(text.first, *text.second) : problem;
    }
    problem = problem.empty() ? CheckVersion("--product-version", b.productVersion) : problem;
    return problem.empty() ? CheckVersion("--file-version", b.fileVersion) : problem;
}

std::string BrandStub(std::vector<unsigned char>& stub, const StubBranding& branding,
                      const std::string& originalFileName, uint64_t largestStub) {
    std::vector<IconImage> images;
    uint64_t iconSize = 0;
    std::string error = branding.icon.empty()
                            ? std::string()
                            : ReadIcon(branding.icon, largestStub, images, iconSize);
    StubResources resources;
    if (error.empty() && !LoadResources(stub, resources, error)) {
        error = "the launcher's resources cannot be branded: " + error;
    }
    ResourceNode tree = resources.tree;
    error = error.empty() ? ApplyVersionInfo(tree, branding, originalFileName) : error;
    if (error.empty() && !branding.icon.empty()) {
        error = ApplyIcon(stub, resources, tree, images, branding.icon, iconSize, largestStub);
    }
    std::vector<unsigned char> branded;
    if (error.empty() && !Rebuild(stub, resources, tree, branded, error)) {
        error = "the launcher cannot take the branding: " + error;
    }
    if (error.empty() && branded.size() > largestStub) {
        error = "the branded launcher would be " + std::to_string(branded.size()) +
                " bytes long: the package marker would start past offset " +
                std::to_string(kMarkerSearchEnd);
    }
    if (error.empty()) {
        stub = std::move(branded);
    }
    return error;
}

BrandingFacts ReadBranding(const std::vector<unsigned char>& image) {
    BrandingFacts facts;
    StubResources resources;
    std::string error;
    VersionBlock root;
    const ResourceNode* version = nullptr;
    if (LoadResources(image, resources, error)) {
        const ResourceNode* type = FindResourceChild(resources.tree, kResourceVersion);
        version = type == nullptr ? nullptr : FirstResourceLeaf(*type);
    }
    if (version == nullptr || !ReadVersionResource(version->data, root, error)) {
        return facts;
    }
    facts.found = true;
    facts.productName = VersionString(root, u"ProductName");
    facts.description = VersionString(root, u"FileDescription");
    facts.company = VersionString(root, u"CompanyName");
    facts.copyright = VersionString(root, u"LegalCopyright");
    facts.fileVersion = VersionString(root, u"FileVersion");
    facts.productVersion = VersionString(root, u"ProductVersion");
    facts.originalFileName = VersionString(root, u"OriginalFilename");
    FourPartVersion file, product;
    if (FixedVersions(root, file, product)) {
        facts.fixedFileVersion = FourPartText(file);
        facts.fixedProductVersion = FourPartText(product);
    }
    const ResourceNode* groups = FindResourceChild(resources.tree, kResourceGroupIcon);
    const ResourceNode* group = groups == nullptr ? nullptr : FirstResourceLeaf(*groups);
    facts.iconSizes = group == nullptr ? facts.iconSizes : IconGroupSizes(group->data);
    return facts;
}
