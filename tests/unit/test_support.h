// Helpers shared by the unit tests.
#pragma once

#include <string>

namespace testing_support {

// A fresh folder under the system's temporary folder, removed with its
// contents when the object goes away. path() ends without a separator.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& path() const { return path_; }
  std::wstring wpath() const;
  // path() + "/" + name
  std::string file(const std::string& name) const;

 private:
  std::string path_;
};

std::string readFile(const std::string& path);
void writeFile(const std::string& path, const std::string& content);
bool exists(const std::string& path);

}  // namespace testing_support
