#include <string>
#include <vector>

#include "host/Host.h"

int main(int argc, char** argv) {
  std::vector<std::string> args(argv, argv + argc);
  return velmora::RunApplication(args);
}
