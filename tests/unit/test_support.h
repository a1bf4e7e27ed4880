// Helpers shared by the unit tests.
#pragma once

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <utility>

namespace testing_support {

// The state every test of the portable code starts from: each fake at its
// defaults, the wall clock fixed at 2026-12-07 06:00:37 (log timestamps are
// known text), and the process-wide updater log bound to a folder of its own
// and marked, so that ProcessLog::sinceMark() is what the test logged.
class PlatformTest : public ::testing::Test {
 protected:
  void SetUp() override;
};

// The same for a table, one test per row.
template <typename Row>
class PlatformTableTest : public PlatformTest,
                          public ::testing::WithParamInterface<Row> {};

// Rows of a table with a readable `name`: a test file that says
// `using testing_support::operator<<;` in the namespace of its rows (gtest
// finds the printer by argument-dependent lookup only) has gtest print its
// rows by name (in failures and test lists, never as raw bytes), and
// CaseName{} names each instance after its row. Names are unique in their
// table and made of letters, digits and '_'.
template <typename Row,
          typename = decltype(std::string(std::declval<const Row&>().name))>
std::ostream& operator<<(std::ostream& out, const Row& row) {
  return out << row.name;
}

struct CaseName {
  template <typename Row>
  std::string operator()(const ::testing::TestParamInfo<Row>& info) const {
    return info.param.name;
  }
};

// The installed product's folder, in its two forms, with a trailing "\".
inline const std::wstring kProductFolder =
    L"C:\\Program Files\\Common Files\\Tessarin Shared\\Tessarin Download "
    L"Manager\\";
inline const std::wstring kX86ProductFolder =
    L"C:\\Program Files (x86)\\Common Files\\Tessarin Shared\\Tessarin "
    L"Download Manager\\";

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
