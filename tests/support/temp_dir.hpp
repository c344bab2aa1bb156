#pragma once

#include <filesystem>
#include <string>

namespace sonda::test {

// A fresh folder under the temporary folder, removed with its contents at the end of scope.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::filesystem::path& path() const { return path_; }
  // Writes `content` to the file `name` in the folder and returns its path.
  std::string write(const std::string& name, const std::string& content) const;

 private:
  std::filesystem::path path_;
};

std::string read_file(const std::filesystem::path& path);

}  // namespace sonda::test
