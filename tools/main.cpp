#include "RenderCli.h"

#include <csignal>
#include <iostream>

#include <QtGlobal>

#ifdef Q_OS_WIN
#include <QString>

#include <cstdio>
#include <fcntl.h>
#include <io.h>
// shellapi.h needs what windows.h defines.
#include <windows.h>

#include <shellapi.h>

#include <string>
#include <vector>
#else
#include <unistd.h>
#endif

int main([[maybe_unused]] int argc, [[maybe_unused]] char **argv)
{
#ifdef Q_OS_WIN
    // The narrow arguments are in the ANSI code page, which loses every
    // character it lacks (a name in Chinese on a Western system); the wide
    // ones are whole. They go on as UTF-8, as a Linux shell would pass them.
    int count = 0;
    wchar_t **wide = ::CommandLineToArgvW(::GetCommandLineW(), &count);
    std::vector<std::string> utf8;
    for (int k = 0; wide != nullptr && k < count; ++k)
        utf8.push_back(QString::fromWCharArray(wide[k]).toStdString());
    ::LocalFree(wide);
    std::vector<const char *> utf8Argv;
    for (const std::string &argument : utf8)
        utf8Argv.push_back(argument.c_str());
    utf8Argv.push_back(nullptr);
    // Help and version text come out as the same bytes as on Linux: no
    // carriage returns added on the way.
    _setmode(_fileno(stdout), _O_BINARY);
    _setmode(_fileno(stderr), _O_BINARY);
    return terralume::runRender(static_cast<int>(utf8.size()), utf8Argv.data(), std::cout, std::cerr,
                                _isatty(_fileno(stderr)) != 0);
#else
    // Under a file-size limit a write past it should fail and be reported
    // like a full disk, not end the program without a word.
    std::signal(SIGXFSZ, SIG_IGN);
    return terralume::runRender(argc, argv, std::cout, std::cerr, isatty(STDERR_FILENO) == 1);
#endif
}
