#include "refplay.h"

#include <iostream>

int main(int argc, char** argv)
{
    std::vector<std::string> args(argv + (argc > 0 ? 1 : 0), argv + argc);
    return refplayer::tool::run(args, std::cout, std::cerr);
}
