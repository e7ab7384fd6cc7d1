#include "ProgramWindows.h"

namespace terralume::ui {

ProgramWindows::ProgramWindows()
{
    World1.setMapWindow(&WorldScr);
    World1.setAboutWindow(&WorldSplash);
}

} // namespace terralume::ui
