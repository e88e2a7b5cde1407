// quentaro-pack: builds, lists and verifies QUENTARO data packages.
#include <iostream>
#include <string>
#include <vector>

#include "tools/pack.h"

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    return quentaro::pack::RunPackTool(args, std::cout, std::cerr);
}
