// Files for tests: a private folder, whole-file reads and writes, folder listings, varied bytes,
// and PNG files decoded back with libpng's read API. Portable (the Windows build uses it too).
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace pmtest {

// A fresh folder in the system's temporary folder, removed with everything in it at the end.
class TempDir {
  public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& path() const { return path_; }
    std::string operator/(const std::string& name) const { return path_ + "/" + name; }

  private:
    std::string path_;
};

std::string ReadFile(const std::string& path); // the whole file; empty when it cannot be read
// Writes the bytes, creating missing folders on the way; the path, for chaining.
std::string WriteFile(const std::string& path, const std::string& bytes);
std::vector<std::string> Entries(const std::string& folder); // names, sorted; temporaries show
std::string Pattern(size_t size); // bytes that differ from their neighbours: byte i is 7i + 3

// A PNG read back: its header fields and its rows of samples, top row first.
struct DecodedPng {
    uint32_t width = 0, height = 0;
    int bitDepth = 0, colourType = 0, interlace = 0;
    std::vector<std::vector<uint8_t>> rows;
    std::vector<uint8_t> filters; // each row's filter type, from the inflated image data
};
// Empty rows when the file is not a PNG libpng can read.
DecodedPng DecodePng(const std::string& path);

} // namespace pmtest
