#pragma once
// A temporary folder for one test, removed with everything in it at the end.

#include <filesystem>
#include <string>
#include <string_view>

namespace pelotest::test {

class TempDir {
  public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& path() const { return path_; }
    // Writes bytes to a file below the folder (creating its parent folders); returns its path.
    std::filesystem::path write(std::string_view relative, std::string_view bytes) const;
    // Reads a whole file as bytes.
    static std::string read(const std::filesystem::path& file);

  private:
    std::filesystem::path path_;
};

} // namespace pelotest::test
