#include "tools/pack/version_resource.h"

#include "common/little_endian.h"

namespace {

constexpr int kDeepestBlock = 4;  // root, StringFileInfo, table, string
constexpr uint32_t kFixedSignature = 0xFEEF04BD;
constexpr size_t kFixedLength = 52;
const char16_t kStringFileInfo[] = u"StringFileInfo";
const char16_t kDefaultTable[] = u"040904B0";  // U.S. English, UTF-16

size_t Align4(size_t value) {
    return (value + 3) & ~size_t{3};
}

bool ReadBlock(const unsigned char* p, size_t available, int depth, VersionBlock& block,
               size_t& length) {
    length = available >= 6 ? ReadLe16(p) : 0;
    if (length < 6 || length > available || depth > kDeepestBlock) {
        return false;
    }
    size_t valueLength = ReadLe16(p + 2);
    block.type = ReadLe16(p + 4);
    size_t at = 6;
    for (; at + 1 < length && ReadLe16(p + at) != 0; at += 2) {
        block.key.push_back(static_cast<char16_t>(ReadLe16(p + at)));
    }
    if (at + 1 >= length) {
        return false;
    }
    at = Align4(at + 2);
    size_t valueBytes = block.type == 1 ? 2 * valueLength : valueLength;
    if (at + valueBytes > length) {
        return false;
    }
    block.value.assign(p + at, p + at + valueBytes);
    for (at = Align4(at + valueBytes); at + 6 <= length; at = Align4(at)) {
        VersionBlock child;
        size_t childLength = 0;
        if (!ReadBlock(p + at, length - at, depth + 1, child, childLength)) {
            return false;
        }
        block.children.push_back(std::move(child));
        at += childLength;
    }
    return true;
}

void PutLe16(std::vector<unsigned char>& out, size_t at, size_t value) {
    out[at] = static_cast<unsigned char>(value);
    out[at + 1] = static_cast<unsigned char>(value >> 8);
}

void AppendUtf16(std::vector<unsigned char>& out, const std::u16string& text) {
    for (char16_t c : text) {
        out.push_back(static_cast<unsigned char>(c));
        out.push_back(static_cast<unsigned char>(c >> 8));
    }
}

void WriteBlock(const VersionBlock& block, std::vector<unsigned char>& out) {
    size_t start = out.size();
    out.resize(start + 6);
    AppendUtf16(out, block.key + u'\0');
    out.resize(Align4(out.size()), 0);
    out.insert(out.end(), block.value.begin(), block.value.end());
    for (const VersionBlock& child : block.children) {
        out.resize(Align4(out.size()), 0);
        WriteBlock(child, out);
    }
    PutLe16(out, start, out.size() - start);
    PutLe16(out, start + 2, block.type == 1 ? block.value.size() / 2 : block.value.size());
    PutLe16(out, start + 4, block.type);
}

const VersionBlock* FindChild(const VersionBlock& block, const std::u16string& key) {
    for (const VersionBlock& child : block.children) {
        if (child.key == key) {
            return &child;
        }
    }
    return nullptr;
}

VersionBlock& ChildOrNew(VersionBlock& block, const std::u16string& key) {
    const VersionBlock* found = FindChild(block, key);
    if (found != nullptr) {
        return const_cast<VersionBlock&>(*found);
    }
    VersionBlock child;
    child.key = key;
    block.children.push_back(child);
    return block.children.back();
}

const VersionBlock* FirstStringTable(const VersionBlock& root) {
    const VersionBlock* info = FindChild(root, kStringFileInfo);
    return info == nullptr || info->children.empty() ? nullptr : &info->children.front();
}

void AppendUtf8(std::string& out, uint32_t c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

}  // namespace

bool ReadVersionResource(const std::vector<unsigned char>& data, VersionBlock& root,
                         std::string& error) {
    VersionBlock result;
    size_t length = 0;
    if (!ReadBlock(data.data(), data.size(), 0, result, length)) {
        error = "its version information is malformed";
        return false;
    }
    root = std::move(result);
    return true;
}

std::vector<unsigned char> WriteVersionResource(const VersionBlock& root) {
    std::vector<unsigned char> out;
    WriteBlock(root, out);
    return out;
}

std::string VersionString(const VersionBlock& root, const std::u16string& key) {
    const VersionBlock* table = FirstStringTable(root);
    const VersionBlock* string = table == nullptr ? nullptr : FindChild(*table, key);
    if (string == nullptr) {
        return std::string();
    }
    std::u16string text;
    for (size_t i = 0; i + 1 < string->value.size(); i += 2) {
        char16_t c = static_cast<char16_t>(ReadLe16(string->value.data() + i));
        if (c == 0) {
            break;
        }
        text.push_back(c);
    }
    return Utf8FromUtf16(text);
}

void SetVersionString(VersionBlock& root, const std::u16string& key, const std::string& utf8) {
    VersionBlock& info = ChildOrNew(root, kStringFileInfo);
    VersionBlock& table =
        info.children.empty() ? ChildOrNew(info, kDefaultTable) : info.children.front();
    VersionBlock& string = ChildOrNew(table, key);
    string.type = 1;
    string.value.clear();
    AppendUtf16(string.value, Utf16FromUtf8(utf8) + u'\0');
}

namespace {

// Where part i of a fixed version lies in its two 32-bit words: each word
// holds its higher part in its upper 16 bits.
size_t FixedPartOffset(size_t i) {
    return i / 2 * 4 + (i % 2 == 0 ? 2 : 0);
}

}  // namespace

bool FixedVersions(const VersionBlock& root, FourPartVersion& file, FourPartVersion& product) {
    const unsigned char* p = root.value.data();
    if (root.value.size() < kFixedLength || ReadLe32(p) != kFixedSignature) {
        return false;
    }
    for (size_t i = 0; i < 4; ++i) {
        size_t word = FixedPartOffset(i);
        file.part[i] = ReadLe16(p + 8 + word);
        product.part[i] = ReadLe16(p + 16 + word);
    }
    return true;
}

bool SetFixedVersions(VersionBlock& root, const FourPartVersion& file,
                      const FourPartVersion& product) {
    FourPartVersion oldFile, oldProduct;
    if (!FixedVersions(root, oldFile, oldProduct)) {
        return false;
    }
    for (size_t i = 0; i < 4; ++i) {
        size_t word = FixedPartOffset(i);
        PutLe16(root.value, 8 + word, file.part[i]);
        PutLe16(root.value, 16 + word, product.part[i]);
    }
    return true;
}

std::string FourPartText(const FourPartVersion& version) {
    return std::to_string(version.part[0]) + "." + std::to_string(version.part[1]) + "." +
           std::to_string(version.part[2]) + "." + std::to_string(version.part[3]);
}

std::u16string Utf16FromUtf8(const std::string& utf8) {
    std::u16string out;
    for (size_t i = 0; i < utf8.size();) {
        unsigned char lead = static_cast<unsigned char>(utf8[i]);
        size_t length = lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
        uint32_t c = length == 1 ? lead : lead & (0x3F >> (length - 1));
        for (size_t k = 1; k < length && i + k < utf8.size(); ++k) {
            c = (c << 6) | (static_cast<unsigned char>(utf8[i + k]) & 0x3F);
        }
        i += length;
        if (c >= 0x10000) {
            out.push_back(static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF)));
        } else {
            out.push_back(static_cast<char16_t>(c));
        }
    }
    return out;
}

std::string Utf8FromUtf16(const std::u16string& utf16) {
    std::string out;
    for (size_t i = 0; i < utf16.size(); ++i) {
        uint32_t c = utf16[i];
        bool high = c >= 0xD800 && c < 0xDC00;
        if (high && i + 1 < utf16.size() && utf16[i + 1] >= 0xDC00 && utf16[i + 1] < 0xE000) {
            c = 0x10000 + ((c - 0xD800) << 10) + (utf16[++i] - 0xDC00);
        } else if (c >= 0xD800 && c < 0xE000) {
            c = 0xFFFD;
        }
        AppendUtf8(out, c);
    }
    return out;
}
