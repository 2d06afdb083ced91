#pragma once
// The package file is written under a temporary name in the output's folder
// and renamed over the output only when it is complete and checked, so a
// failed run leaves no half package behind.
#include <filesystem>
#include <fstream>
#include <string>

class PackageOutput {
  public:
    PackageOutput() = default;
    PackageOutput(const PackageOutput&) = delete;
    PackageOutput& operator=(const PackageOutput&) = delete;
    // Removes the temporary file unless Commit succeeded.
    ~PackageOutput();

    // Creates the temporary file beside output, open for reading and writing.
    bool Create(const std::filesystem::path& output, std::string& error);
    std::fstream& Stream() { return stream_; }
    // Closes the file and puts it in the output's place.
    bool Commit(std::string& error);

  private:
    std::filesystem::path output_;
    std::filesystem::path temporary_;
    std::fstream stream_;
    bool committed_ = false;
};
