// Test main that adopts the locale of the environment, so the same tests also
// run under a decimal-comma locale (LC_ALL=de_DE.UTF-8 in CTest).
#include <clocale>
#include <cstdlib>
#include <cstring>

#include <gtest/gtest.h>

int main(int argc, char** argv) {
  std::setlocale(LC_ALL, "");
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
