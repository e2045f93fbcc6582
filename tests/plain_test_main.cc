// main() of the test programs built for Windows.  GoogleTest's own printer
// hands every failure to OutputDebugStringA as well; that call works by
// raising an exception, and under Wine running 32-bit code through an
// emulator the raise kills the process, so a failing test could vanish
// with its message (and sometimes exit 0).  This printer writes to stdout
// only, unbuffered, so that every line reaches the log.
#include <gtest/gtest.h>

#include <cstdio>

namespace {

class PlainPrinter : public ::testing::EmptyTestEventListener {
  void OnTestStart(const ::testing::TestInfo& test) override {
    std::printf("[ RUN      ] %s.%s\n", test.test_suite_name(), test.name());
  }

  void OnTestPartResult(const ::testing::TestPartResult& result) override {
    if (result.type() == ::testing::TestPartResult::kSuccess) return;
    std::printf("%s:%d: %s\n%s\n", result.file_name() ? result.file_name() : "?",
                result.line_number(), result.skipped() ? "Skipped" : "Failure",
                result.message());
  }

  void OnTestEnd(const ::testing::TestInfo& test) override {
    const ::testing::TestResult& result = *test.result();
    const char* verdict = result.Skipped() ? "[  SKIPPED ]" : result.Passed() ? "[       OK ]"
                                                                            : "[  FAILED  ]";
    std::printf("%s %s.%s (%lld ms)\n", verdict, test.test_suite_name(), test.name(),
                static_cast<long long>(result.elapsed_time()));
  }

  void OnTestProgramEnd(const ::testing::UnitTest& unit) override {
    std::printf("[==========] %d tests ran, %d passed, %d failed, %d skipped.\n",
                unit.test_to_run_count(), unit.successful_test_count(), unit.failed_test_count(),
                unit.skipped_test_count());
    for (int i = 0; i < unit.total_test_suite_count(); ++i) {
      const ::testing::TestSuite& suite = *unit.GetTestSuite(i);
      for (int j = 0; j < suite.total_test_count(); ++j) {
        const ::testing::TestInfo& test = *suite.GetTestInfo(j);
        if (test.should_run() && test.result()->Failed()) {
          std::printf("[  FAILED  ] %s.%s\n", suite.name(), test.name());
        }
      }
    }
  }
};

}  // namespace

int main(int argc, char** argv) {
  std::setvbuf(stdout, nullptr, _IONBF, 0);
  ::testing::InitGoogleTest(&argc, argv);
  ::testing::TestEventListeners& listeners = ::testing::UnitTest::GetInstance()->listeners();
  delete listeners.Release(listeners.default_result_printer());
  listeners.Append(new PlainPrinter);
  return RUN_ALL_TESTS();
}
