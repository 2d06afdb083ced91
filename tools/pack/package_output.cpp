#include "tools/pack/package_output.h"

#include <random>
#include <system_error>

#include "tools/pack/native_text.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace {

namespace fs = std::filesystem;

std::string RandomSuffix() {
    std::random_device source;
    const char* digits = "0123456789abcdef";
    std::string suffix;
    for (int i = 0; i < 4; ++i) {
        unsigned value = source();
        for (int k = 0; k < 4; ++k) {
            suffix.push_back(digits[(value >> (4 * k)) & 0xF]);
        }
    }
    return suffix;
}

// Puts from in place of to, replacing a file that is there.
bool ReplaceWith(const fs::path& from, const fs::path& to, std::string& error) {
#ifdef _WIN32
    if (!MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING)) {
        error = "Windows error " + std::to_string(GetLastError());
        return false;
    }
    return true;
#else
    std::error_code failure;
    fs::rename(from, to, failure);
    if (failure) {
        error = failure.message();
        return false;
    }
    return true;
#endif
}

}  // namespace

PackageOutput::~PackageOutput() {
    if (stream_.is_open()) {
        stream_.close();
    }
    if (!committed_ && !temporary_.empty()) {
        std::error_code ignored;
        fs::remove(temporary_, ignored);
    }
}

bool PackageOutput::Create(const fs::path& output, std::string& error) {
    std::string shown = PathToUtf8(output);
    std::error_code failure;
    if (fs::is_directory(output, failure)) {
        error = "cannot write " + shown + ": it is a folder";
        return false;
    }
    fs::path folder = output.parent_path();
    if (folder.empty()) {
        folder = ".";
    }
    if (!fs::is_directory(folder, failure)) {
        error = "cannot write " + shown + ": the folder " + PathToUtf8(folder) + " does not exist";
        return false;
    }
    for (int attempt = 0; attempt < 16 && temporary_.empty(); ++attempt) {
        fs::path candidate = folder / PathFromUtf8("." + PathToUtf8(output.filename()) + "." +
                                                   RandomSuffix() + ".part");
        if (!fs::exists(candidate, failure)) {
            temporary_ = candidate;
        }
    }
    if (temporary_.empty()) {
        error = "cannot write " + shown + ": no free temporary name in its folder";
        return false;
    }
    stream_.open(temporary_, std::ios::in | std::ios::out | std::ios::trunc | std::ios::binary);
    if (!stream_.is_open()) {
        error = "cannot write " + shown + ": a file cannot be created in " + PathToUtf8(folder);
        temporary_.clear();
        return false;
    }
    output_ = output;
    return true;
}

bool PackageOutput::Commit(std::string& error) {
    stream_.flush();
    bool written = !stream_.fail();
    stream_.close();
    if (!written || stream_.fail()) {
        error = "cannot write " + PathToUtf8(output_) + ": writing the file failed";
        return false;
    }
    std::string reason;
    if (!ReplaceWith(temporary_, output_, reason)) {
        error = "cannot write " + PathToUtf8(output_) + ": " + reason;
        return false;
    }
    committed_ = true;
    return true;
}
