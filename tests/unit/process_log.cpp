#include "unit/process_log.h"

#include <gtest/gtest.h>

#include "config/logger.h"
#include "fakes/fake_platform.h"
#include "unit/test_support.h"

namespace testing_support {

namespace {

struct BoundLog {
  TempDir dir;  // removed at exit
  std::string file = dir.file("TsDLM/TsDLMUpdater.log");
  bool bound = false;
  std::size_t mark = 0;

  BoundLog() {
    const fake::FilesState saved = fake::files();
    fake::files().tempPath = dir.wpath() + L"\\";
    fake::files().publicDocuments.clear();
    (void)Logger::start(RunOptions());
    fake::files() = saved;
    bound = exists(file);
  }
  // Runs before the logger's own exit handler: close the streams so that the
  // folder can go (Windows keeps open files).
  ~BoundLog() { Logger::instance().close(); }
};

BoundLog& boundLog() {
  static BoundLog log;
  return log;
}

// Binds the log before the first test, so that a test that logs without
// binding it (or asks for the logger itself) cannot bind it elsewhere for
// the tests after it in the same process.
class BindBeforeTheTests : public ::testing::Environment {
 public:
  void SetUp() override { (void)boundLog(); }
};

[[maybe_unused]] ::testing::Environment* const kBindBeforeTheTests =
    ::testing::AddGlobalTestEnvironment(new BindBeforeTheTests);

}  // namespace

bool ProcessLog::bind() { return boundLog().bound; }

void ProcessLog::mark() { boundLog().mark = readFile(boundLog().file).size(); }

std::string ProcessLog::sinceMark() {
  const std::string content = readFile(boundLog().file);
  return content.size() >= boundLog().mark ? content.substr(boundLog().mark)
                                           : content;
}

}  // namespace testing_support
