// main of the test programs that run on Windows.
#include <gtest/gtest.h>

#include "WineTest.h"

// GoogleTest takes its own flags first; what is left are ours.
int main(int argc, char **argv) {
  ::testing::InitGoogleTest(&argc, argv);
  winetest::ParseArguments(argc, argv);
  return RUN_ALL_TESTS();
}
