// The process-wide Logger opens its files at its first use. Tests that read
// what it wrote bind it first to a folder that lives as long as the process,
// then compare what was added since their mark.
#pragma once

#include <string>

namespace testing_support {

class ProcessLog {
 public:
  // Binds Logger::instance() on the first call (fake temporary folder only,
  // no shared log). False when something logged earlier and so bound it
  // elsewhere: the log cannot be read then.
  static bool bind();
  // Remembers the current end of the log.
  static void mark();
  // What was written since the last mark().
  static std::string sinceMark();
};

}  // namespace testing_support
