#pragma once
// A private X server with a window manager for the desktop tests, and the
// tools a user's desktop would use to look at and handle its windows.
#include <QElapsedTimer>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

class XDesktop {
public:
    // Empty when every tool is there, else the first one missing.
    static QString missingTool()
    {
        for (const char *tool : {"Xvfb", "openbox", "xdotool", "xprop", "wmctrl"})
            if (QStandardPaths::findExecutable(QString::fromLatin1(tool)).isEmpty())
                return QString::fromLatin1(tool);
        return QString();
    }

    ~XDesktop() { stop(); }

    // Now and then a fresh server and window manager do not settle (the
    // manager's first grab of the server never ends); they are started anew
    // then.
    bool start()
    {
        if (!runtime_.isValid())
            return false;
        for (int attempt = 0; attempt < 3; ++attempt) {
            stop();
            if (startOnce())
                return true;
        }
        return false;
    }

    void stop()
    {
        for (QProcess *process : {windowManager_.get(), server_.get()}) {
            if (process && process->state() != QProcess::NotRunning) {
                process->terminate();
                if (!process->waitForFinished(5000))
                    process->kill();
            }
        }
    }

    QProcessEnvironment environment() const
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("DISPLAY"), display_);
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime_.path());
        env.remove(QStringLiteral("WAYLAND_DISPLAY"));
        env.remove(QStringLiteral("XDG_ACTIVATION_TOKEN"));
        env.remove(QStringLiteral("DESKTOP_STARTUP_ID"));
        return env;
    }

    // Runs a tool to its end (a hung one is killed) and gives its output.
    QString run(const QString &program, const QStringList &args) const
    {
        QProcess process;
        process.setProcessEnvironment(environment());
        process.start(program, args);
        if (!process.waitForFinished(3000)) {
            process.kill();
            process.waitForFinished(1000);
        }
        return QString::fromLocal8Bit(process.readAllStandardOutput()).trimmed();
    }

    QString property(const QString &window, const QString &name) const
    {
        return run(QStringLiteral("xprop"), {QStringLiteral("-id"), window, name});
    }

    // The managed windows as the window manager lists them: id and title.
    QList<std::pair<QString, QString>> windows() const
    {
        QList<std::pair<QString, QString>> listed;
        for (const QString &line : run(QStringLiteral("wmctrl"), {QStringLiteral("-l")}).split(QLatin1Char('\n'))) {
            const QStringList fields = line.split(QLatin1Char(' '), Qt::SkipEmptyParts);
            if (fields.size() >= 3)
                listed.append({fields[0], line.section(QLatin1Char(' '), 3, -1, QString::SectionSkipEmpty)});
        }
        return listed;
    }

    // The active window's id, in wmctrl's spelling.
    QString activeWindow() const
    {
        return run(QStringLiteral("xprop"), {QStringLiteral("-root"), QStringLiteral("_NET_ACTIVE_WINDOW")})
            .section(QLatin1Char('#'), 1)
            .trimmed();
    }

    // Bottom to top.
    QStringList stacking() const
    {
        QStringList ids;
        const QString list =
            run(QStringLiteral("xprop"), {QStringLiteral("-root"), QStringLiteral("_NET_CLIENT_LIST_STACKING")});
        for (const QString &id : list.section(QLatin1Char('#'), 1).split(QLatin1Char(','), Qt::SkipEmptyParts))
            ids.append(id.trimmed());
        return ids;
    }

    // The first window whose title matches `pattern`; empty when none does.
    QString windowTitled(const QString &pattern) const
    {
        const QRegularExpression title(pattern);
        for (const auto &[id, listed] : windows())
            if (title.match(listed).hasMatch())
                return id;
        return QString();
    }

    // Key names as xdotool takes them, sent to window `id` once it is active.
    void sendKeys(const QString &id, const QStringList &names) const
    {
        run(QStringLiteral("xdotool"), {QStringLiteral("windowactivate"), QStringLiteral("--sync"), id});
        run(QStringLiteral("xdotool"), QStringList{QStringLiteral("key"), QStringLiteral("--clearmodifiers")} + names);
    }

    static bool sameWindow(const QString &a, const QString &b)
    {
        return a.toULongLong(nullptr, 16) == b.toULongLong(nullptr, 16);
    }

private:
    // The server picks a free display itself and names it on stdout; the
    // window manager is ready once it has announced itself on the root.
    bool startOnce()
    {
        server_ = std::make_unique<QProcess>();
        server_->start(QStringLiteral("Xvfb"),
                       {QStringLiteral("-displayfd"), QStringLiteral("1"), QStringLiteral("-screen"),
                        QStringLiteral("0"), QStringLiteral("1024x768x24"), QStringLiteral("-nolisten"),
                        QStringLiteral("tcp")});
        QByteArray number;
        while (!number.contains('\n') && server_->waitForReadyRead(10000))
            number += server_->readAllStandardOutput();
        if (!number.contains('\n'))
            return false;
        display_ = QLatin1Char(':') + QString::fromLatin1(number).trimmed();

        windowManager_ = std::make_unique<QProcess>();
        windowManager_->setProcessEnvironment(environment());
        windowManager_->start(QStringLiteral("openbox"), {QStringLiteral("--sm-disable")});
        if (!windowManager_->waitForStarted(5000))
            return false;
        QElapsedTimer clock;
        clock.start();
        while (clock.elapsed() < 15000) {
            if (run(QStringLiteral("xprop"), {QStringLiteral("-root"), QStringLiteral("_NET_SUPPORTING_WM_CHECK")})
                    .contains(QLatin1String("window id")))
                return true;
            QTest::qWait(100);
        }
        return false;
    }

    QTemporaryDir runtime_;
    std::unique_ptr<QProcess> server_;
    std::unique_ptr<QProcess> windowManager_;
    QString display_;
};
