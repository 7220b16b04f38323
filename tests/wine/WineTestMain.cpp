// main of the test programs that run on Windows.
#include <gtest/gtest.h>

#include <string>

#include "WineTest.h"

namespace {

// The longest wait for each bound in the running test, as its report's
// property "longest_wait_of_<bound>_ms".
void NoteLongestWait(DWORD boundMs, std::uint64_t tookMs) {
  const ::testing::TestInfo *test = ::testing::UnitTest::GetInstance()->current_test_info();
  if (test == nullptr) return;  // between tests: no report to note it in
  const std::string key = "longest_wait_of_" + std::to_string(boundMs) + "_ms";
  const ::testing::TestResult &noted = *test->result();
  for (int i = 0; i < noted.test_property_count(); ++i) {
    const ::testing::TestProperty &property = noted.GetTestProperty(i);
    if (key == property.key() && std::stoull(property.value()) >= tookMs) return;
  }
  ::testing::Test::RecordProperty(key, std::to_string(tookMs));
}

}  // namespace

// GoogleTest takes its own flags first; what is left are ours.
int main(int argc, char **argv) {
  ::testing::InitGoogleTest(&argc, argv);
  winetest::ParseArguments(argc, argv);
  winetest::SetWaitObserver(NoteLongestWait);
  return RUN_ALL_TESTS();
}
