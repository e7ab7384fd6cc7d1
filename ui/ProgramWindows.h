#pragma once
// The program's windows as start-up creates them, one of each, in the order
// the settings window relies on: it is created first, so it becomes the main
// window and installs its restore hook before the others exist; the map and
// about windows are owned by it and stay hidden until it shows them.

#include "SeededRandom.h"
#include "TWorld1.h"
#include "TWorldScr.h"
#include "TWorldSplash.h"

namespace terralume::ui {

struct ProgramWindows {
    ProgramWindows()
    {
        World1.setMapWindow(&WorldScr);
        World1.setAboutWindow(&WorldSplash);
    }

    // The one seeded source of the run, shared by every Generate.
    SeededRandom random;
    TWorld1 World1{random};
    TWorldScr WorldScr{random, &World1};
    TWorldSplash WorldSplash{&World1};
};

} // namespace terralume::ui
