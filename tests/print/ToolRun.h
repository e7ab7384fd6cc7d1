#pragma once
// Runs the command-line tools the print tests check their pages with.

#include <QProcess>
#include <QString>
#include <QStringList>
#include <QtTest>

namespace terralume::print::tools {

// The tool's standard output; `ok` tells whether it ran and exited with 0.
inline QByteArray run(const QString &program, const QStringList &arguments, bool *ok = nullptr, int timeoutMs = 120000)
{
    QProcess process;
    process.start(program, arguments);
    const bool done = process.waitForFinished(timeoutMs);
    const bool good = done && process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
    if (ok != nullptr)
        *ok = good;
    if (!good)
        qWarning("%s failed: %s", qPrintable(program), process.readAllStandardError().constData());
    return process.readAllStandardOutput();
}

} // namespace terralume::print::tools
