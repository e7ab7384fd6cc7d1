#include "RenderCli.h"

#include <iostream>

int main(int argc, char **argv)
{
    return terralume::runRender(argc, argv, std::cout, std::cerr);
}
