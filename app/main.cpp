// The program: one instance per user and display, the three windows created
// once in order (settings, map, about), then the message loop until the
// settings window closes.
#include "Assets.h"
#include "InstanceGuard.h"
#include "SeededRandom.h"
#include "TWorld1.h"
#include "TWorldScr.h"
#include "TWorldSplash.h"
#include "TerralumeApplication.h"
#include "WindowActivation.h"

#include <QObject>

#include <cstdio>

int main(int argc, char *argv[])
{
    using namespace terralume;
    ui::TerralumeApplication application(argc, argv);
    ui::TerralumeApplication::setApplicationName(QStringLiteral("Terralume"));

    // A second start creates no window: it asks the running instance to come
    // forward, waits (a bounded time) until that was handled, and ends.
    InstanceGuard guard;
    switch (guard.claim()) {
    case InstanceGuard::Outcome::Forwarded:
        return 0;
    case InstanceGuard::Outcome::NoAnswer:
        std::fprintf(stderr, "terralume: %s\n", qPrintable(guard.errorString()));
        return 0;
    case InstanceGuard::Outcome::Unguarded:
        std::fprintf(stderr, "terralume: starting without the single-instance guard: %s\n",
                     qPrintable(guard.errorString()));
        break;
    case InstanceGuard::Outcome::Primary:
        break;
    }

    ui::TerralumeApplication::setWindowIcon(programIcon());

    // The one seeded source of the run, shared by every Generate.
    SeededRandom random;
    ui::TWorld1 World1(random);
    ui::TWorldScr WorldScr(random);
    ui::TWorldSplash WorldSplash(&World1);
    World1.setMapWindow(&WorldScr);
    World1.setAboutWindow(&WorldSplash);
    QObject::connect(&guard, &InstanceGuard::activationRequested, &World1,
                     [&World1](const QString &token) { bringToFront(&World1, token); });

    World1.show();
    ui::TerralumeApplication::exec();
    return 0;
}
