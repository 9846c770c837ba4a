#include <iostream>
#include <string>
#include <vector>

#include "DecodeTool.h"

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  return zrq::tools::runDecodeTool(args, std::cin, std::cout, std::cerr);
}
