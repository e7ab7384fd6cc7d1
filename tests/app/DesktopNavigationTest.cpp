// Finding a world from the keyboard and the wheel on a real X server with a
// window manager: the die button makes a map from a fresh seed, Ctrl+wheel
// zooms around the pointer and keeps the place under it, and F10 with the
// arrows reaches File > Save Picture As, which records the new world.
#include "XDesktop.h"

#include <QDir>
#include <QImage>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QtEndian>

#include <memory>
#include <set>

namespace {

// A picture from xwd's dump: its header is big-endian, then come the
// window's name, the colour map and the pixels, one row after another.
QImage fromXwd(const QByteArray &dump)
{
    constexpr int kFields = 25;
    if (dump.size() < kFields * 4)
        return {};
    const auto field = [&](int i) { return qFromBigEndian<quint32>(dump.constData() + 4 * i); };
    const quint32 headerSize = field(0), width = field(4), height = field(5), byteOrder = field(7),
                  bytesPerPixel = field(11) / 8, bytesPerLine = field(12), redMask = field(14), greenMask = field(15),
                  blueMask = field(16), colours = field(19);
    const qsizetype start = headerSize + qsizetype(colours) * 12;
    if ((bytesPerPixel != 3 && bytesPerPixel != 4) || bytesPerLine < width * bytesPerPixel ||
        dump.size() < start + qsizetype(bytesPerLine) * height)
        return {};
    const auto channel = [](quint32 pixel, quint32 mask) {
        int shift = 0;
        while (mask && !(mask & 1)) {
            mask >>= 1;
            ++shift;
        }
        return int((pixel >> shift) & mask);
    };
    QImage picture(int(width), int(height), QImage::Format_RGB32);
    for (quint32 y = 0; y < height; ++y) {
        const char *row = dump.constData() + start + qsizetype(y) * bytesPerLine;
        for (quint32 x = 0; x < width; ++x) {
            const auto *bytes = reinterpret_cast<const uchar *>(row + bytesPerPixel * x);
            quint32 pixel = 0;
            for (quint32 i = 0; i < bytesPerPixel; ++i)
                pixel |= quint32(bytes[byteOrder ? i : bytesPerPixel - 1 - i]) << (8 * (bytesPerPixel - 1 - i));
            picture.setPixel(int(x), int(y),
                             qRgb(channel(pixel, redMask), channel(pixel, greenMask), channel(pixel, blueMask)));
        }
    }
    return picture;
}

int coloursAround(const QImage &screen, QPoint centre, int reach)
{
    std::set<QRgb> seen;
    for (int y = centre.y() - reach; y <= centre.y() + reach; ++y)
        for (int x = centre.x() - reach; x <= centre.x() + reach; ++x)
            seen.insert(screen.pixel(x, y));
    return int(seen.size());
}

} // namespace

class DesktopNavigationTest : public QObject {
    Q_OBJECT

    XDesktop desktop_;
    std::unique_ptr<QTemporaryDir> home_;
    QProcess program_;
    QString settings_;

    QString xdotool(const QStringList &args) { return desktop_.run(QStringLiteral("xdotool"), args); }

    QString window(const QString &pattern) const { return desktop_.windowTitled(pattern); }
    void keys(const QString &id, const QStringList &names) { desktop_.sendKeys(id, names); }

    QImage screen() const
    {
        QProcess dump;
        dump.setProcessEnvironment(desktop_.environment());
        dump.start(QStringLiteral("xwd"), {QStringLiteral("-root"), QStringLiteral("-silent")});
        if (!dump.waitForFinished(10000))
            return {};
        return fromXwd(dump.readAllStandardOutput());
    }

    // File > Save Picture As from the keyboard, its dialog's proposal taken:
    // the picture lands in the empty home.
    QImage savePicture(const QString &map, const QTemporaryDir &home)
    {
        keys(map, {QStringLiteral("F10"), QStringLiteral("Down"), QStringLiteral("Down"), QStringLiteral("Return")});
        QString dialog;
        if (!QTest::qWaitFor([&] { return !(dialog = window(QStringLiteral("^Save Picture As$"))).isEmpty(); }, 20000))
            return {};
        keys(dialog, {QStringLiteral("Return")});
        const QDir folder(home.path());
        if (!QTest::qWaitFor([&] { return folder.entryList({QStringLiteral("*.png")}, QDir::Files).size() == 1; },
                             20000) ||
            !QTest::qWaitFor([&] { return window(QStringLiteral("^Save Picture As$")).isEmpty(); }, 20000))
            return {};
        return QImage(folder.filePath(folder.entryList({QStringLiteral("*.png")}, QDir::Files).constFirst()));
    }

    static QString render(const QStringList &args)
    {
        QProcess renderer;
        renderer.start(QStringLiteral(TERRALUME_RENDER), args);
        if (!renderer.waitForFinished(60000) || renderer.exitCode() != 0)
            return {};
        return QString::fromLatin1(renderer.readAllStandardOutput());
    }

private slots:
    void initTestCase()
    {
        if (const QString missing = XDesktop::missingTool(); !missing.isEmpty())
            QSKIP(qPrintable(QStringLiteral("%1 is not installed").arg(missing)));
        if (QStandardPaths::findExecutable(QStringLiteral("xwd")).isEmpty())
            QSKIP("xwd is not installed");
        QVERIFY2(desktop_.start(), "no X server with a window manager could be started");
    }

    void cleanupTestCase() { desktop_.stop(); }

    // Each test has the program to itself, with a home of its own, its
    // settings window up.
    void init()
    {
        home_ = std::make_unique<QTemporaryDir>();
        QVERIFY(home_->isValid());
        QProcessEnvironment env = desktop_.environment();
        env.insert(QStringLiteral("HOME"), home_->path());
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), home_->filePath(QStringLiteral(".config")));
        program_.setProcessEnvironment(env);
        program_.start(QStringLiteral(TERRALUME_PROGRAM), QStringList());
        QVERIFY(program_.waitForStarted(10000));
        if (!QTest::qWaitFor([&] { return !(settings_ = window(QStringLiteral("^Terralume$"))).isEmpty(); }, 60000)) {
            QStringList listed;
            for (const auto &[id, title] : desktop_.windows())
                listed << id + QLatin1Char(' ') + title;
            QFAIL(qPrintable(QStringLiteral("no settings window; program %1, windows: %2; its errors: %3")
                                 .arg(program_.state() == QProcess::Running ? QStringLiteral("running")
                                                                            : QStringLiteral("ended"),
                                      listed.join(QStringLiteral(", ")),
                                      QString::fromLocal8Bit(program_.readAllStandardError()))));
        }
    }

    void cleanup()
    {
        program_.kill();
        program_.waitForFinished(10000);
    }

    void newSeedWheelZoomAndMenuKeys()
    {
        const QTemporaryDir &home = *home_;
        const QString settings = settings_;
        // Large, then the die button, which follows the seed field.
        keys(settings, {QStringLiteral("Down"), QStringLiteral("Down"), QStringLiteral("Tab"), QStringLiteral("Tab"),
                        QStringLiteral("space")});
        QString map;
        QTRY_VERIFY_WITH_TIMEOUT(!(map = window(QStringLiteral("^Terralume - "))).isEmpty(), 30000);
        // Too large for the screen, the map fills it and scrolls.
        QTRY_VERIFY_WITH_TIMEOUT(
            desktop_.property(map, QStringLiteral("_NET_WM_STATE")).contains(QLatin1String("MAXIMIZED_VERT")), 20000);

        // The pointer goes where the map shows the most detail, so that a
        // place kept cannot be mistaken for open sea; the map is drawn once
        // two looks agree.
        constexpr int kReach = 12;
        // Screen shots show the pointer; it waits in a corner for them.
        const QStringList toCorner{QStringLiteral("mousemove"), QStringLiteral("1023"), QStringLiteral("0")};
        xdotool(toCorner);
        QImage before;
        const auto drawn = [&] {
            before = screen();
            const QImage again = screen();
            return !before.isNull() && before == again && coloursAround(before, QPoint(512, 400), 200) > 4;
        };
        QTRY_VERIFY_WITH_TIMEOUT(drawn(), 20000);
        QPoint pointer;
        int most = 0;
        for (int y = 200; y <= 640; y += 20)
            for (int x = 120; x <= 880; x += 20)
                if (const int colours = coloursAround(before, QPoint(x, y), kReach); colours > most) {
                    most = colours;
                    pointer = QPoint(x, y);
                }
        QVERIFY2(most > 3, "the map shows no detail");
        xdotool({QStringLiteral("mousemove"), QString::number(pointer.x()), QString::number(pointer.y())});
        xdotool({QStringLiteral("keydown"), QStringLiteral("ctrl"), QStringLiteral("click"), QStringLiteral("4"),
                 QStringLiteral("keyup"), QStringLiteral("ctrl")});
        xdotool(toCorner);

        // At x2 each cell is two pixels: the screen around the pointer is
        // what it was, doubled from the pointer's cell (to within a cell).
        const auto placeKept = [&] {
            const QImage after = screen();
            if (after.isNull())
                return false;
            for (int oy = -1; oy <= 1; ++oy)
                for (int ox = -1; ox <= 1; ++ox) {
                    bool same = true;
                    for (int dy = -2 * kReach; dy < 2 * kReach && same; ++dy)
                        for (int dx = -2 * kReach; dx < 2 * kReach && same; ++dx) {
                            const QPoint was = pointer + QPoint(ox + (dx >> 1), oy + (dy >> 1));
                            same = after.pixel(pointer + QPoint(dx, dy)) == before.pixel(was);
                        }
                    if (same)
                        return true;
                }
            return false;
        };
        QTRY_VERIFY_WITH_TIMEOUT(placeKept(), 20000);

        // Escape leaves the menus: F10 then selects the first one again.
        keys(map, {QStringLiteral("F10"), QStringLiteral("Escape"), QStringLiteral("Escape")});
        const QImage saved = savePicture(map, home);
        QVERIFY(!saved.isNull());
        // The view at x2, one wheel notch from x1.
        QCOMPARE(saved.width(), 2 * 1024);
        const QString seed = saved.text(QStringLiteral("TerralumeSeed"));
        QVERIFY2(QRegularExpression(QStringLiteral("^[0-9]{1,8}$")).match(seed).hasMatch(), qPrintable(seed));
        QVERIFY(seed != QLatin1String("42861244"));
    }

    // The explorer from the keyboard alone: World > Explore Worlds, the
    // water slider a step drier, land at least 40 %, Enter on the world it
    // selects, then Generate; the map is the renderer's for the seed and
    // the water it brought.
    void exploreFilterAndUseAWorld()
    {
        const QTemporaryDir &home = *home_;
        const QString settings = settings_;
        // F10 selects the World menu, Enter opens it, Enter takes its entry.
        keys(settings, {QStringLiteral("F10"), QStringLiteral("Return"), QStringLiteral("Return")});
        QString explorer;
        QTRY_VERIFY_WITH_TIMEOUT(!(explorer = window(QStringLiteral("^Explore Worlds$"))).isEmpty(), 20000);
        // The water slider by its access key, a step up, whether the page
        // has filled yet or not; past the heat slider, Tab returns to the list.
        keys(explorer, {QStringLiteral("alt+w"), QStringLiteral("Up"), QStringLiteral("Tab"), QStringLiteral("Tab")});
        // From the list: Use This World, Cancel, the land filter; its number
        // then, and Enter there searches with it.
        keys(explorer, {QStringLiteral("Tab"), QStringLiteral("Tab"), QStringLiteral("Tab"), QStringLiteral("space"),
                        QStringLiteral("Tab"), QStringLiteral("ctrl+a"), QStringLiteral("4"), QStringLiteral("0"),
                        QStringLiteral("Return")});
        // Back to the list, where Enter takes the selected world once the
        // search has put one there.
        keys(explorer, {QStringLiteral("shift+Tab"), QStringLiteral("shift+Tab"), QStringLiteral("shift+Tab"),
                        QStringLiteral("shift+Tab")});
        QTRY_VERIFY_WITH_TIMEOUT(window(QStringLiteral("^Explore Worlds$")).isEmpty() ||
                                     (keys(explorer, {QStringLiteral("Return")}), false),
                                 30000);
        QString map = window(QStringLiteral("^Terralume - "));
        if (map.isEmpty())
            keys(settings, {QStringLiteral("Return")});
        QTRY_VERIFY_WITH_TIMEOUT(!(map = window(QStringLiteral("^Terralume - "))).isEmpty(), 30000);

        const QImage saved = savePicture(map, home);
        QVERIFY(!saved.isNull());
        const QString seed = saved.text(QStringLiteral("TerralumeSeed"));
        QVERIFY2(seed != QLatin1String("42861244"), "the explorer's world was not used");
        QCOMPARE(saved.text(QStringLiteral("TerralumeWater")), QStringLiteral("-1"));
        const QStringList figures =
            render({QStringLiteral("--figures"), QStringLiteral("--seed"), seed, QStringLiteral("--water"),
                    QStringLiteral("-1")})
                .split(QLatin1Char('\n'));
        QCOMPARE(figures.size() > 1 ? figures[1].section(QLatin1Char(','), 0, 0) : QString(), seed);
        QVERIFY2(figures[1].section(QLatin1Char(','), 1, 1).toDouble() >= 40.0, qPrintable(figures[1]));

        const QTemporaryDir out;
        const QString rendered = out.filePath(QStringLiteral("rendered.png"));
        render({QStringLiteral("--seed"), seed, QStringLiteral("--water"), QStringLiteral("-1"), QStringLiteral("--png"),
                rendered});
        QCOMPARE(saved.convertToFormat(QImage::Format_RGB888), QImage(rendered).convertToFormat(QImage::Format_RGB888));
    }
};

QTEST_GUILESS_MAIN(DesktopNavigationTest)
#include "DesktopNavigationTest.moc"
