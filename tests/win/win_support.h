// Helpers for the Windows tests: real files in the Wine prefix, fixture
// programs, environment changes undone at the end of a test, and the
// process-wide log bound to a folder of its own.
#pragma once

#include <string>

namespace win_support {

// A fixture program built in tests/fixtures, e.g. L"version_6_1_32_0".
std::wstring fixture(const wchar_t* name);

// Removes update.ini and TSRN.DLM.exe from both product folders when made
// and when gone, so that every test starts without an installed product.
class ProductFiles {
 public:
  ProductFiles();
  ~ProductFiles();
  ProductFiles(const ProductFiles&) = delete;
  ProductFiles& operator=(const ProductFiles&) = delete;

  // Writes `content` (bytes as given) to <folder>update.ini.
  void writeIni(const std::string& content, bool x86 = false) const;
  // Copies a fixture program to <folder>TSRN.DLM.exe.
  void install(const wchar_t* fixtureName, bool x86 = false) const;

 private:
  static void clear();
};

// Sets (or with a null value removes) a variable of the C runtime and the
// process environment; the old value comes back at the end of the scope.
class ScopedVariable {
 public:
  ScopedVariable(const std::wstring& name, const wchar_t* value);
  ~ScopedVariable();
  ScopedVariable(const ScopedVariable&) = delete;
  ScopedVariable& operator=(const ScopedVariable&) = delete;

 private:
  std::wstring name_;
  bool had_ = false;
  std::wstring old_;
};

// A fresh folder made the temporary folder of this process (TMP and TEMP)
// for the scope, removed with its contents afterwards. path() ends in "\".
class ScratchTemp {
 public:
  ScratchTemp();
  ~ScratchTemp();
  ScratchTemp(const ScratchTemp&) = delete;
  ScratchTemp& operator=(const ScratchTemp&) = delete;
  const std::wstring& path() const { return path_; }

 private:
  std::wstring path_;
  ScopedVariable tmp_;
  ScopedVariable temp_;
};

bool fileExists(const std::wstring& path);
void copyFile(const std::wstring& from, const std::wstring& to);

// The updater log of this process, bound before the first test to a folder
// that lives as long as the process.
class ProcessLog {
 public:
  static void mark();
  static std::string sinceMark();
};

}  // namespace win_support
