#include "RenderCli.h"

#include <csignal>
#include <iostream>

int main(int argc, char **argv)
{
    // Under a file-size limit a write past it should fail and be reported
    // like a full disk, not end the program without a word.
    std::signal(SIGXFSZ, SIG_IGN);
    return terralume::runRender(argc, argv, std::cout, std::cerr);
}
