#include "SeededRandom.h"
#include "TWorld1.h"
#include "TWorldScr.h"
#include "TerralumeApplication.h"

int main(int argc, char *argv[])
{
    terralume::ui::TerralumeApplication application(argc, argv);
    terralume::ui::TerralumeApplication::setApplicationName(QStringLiteral("Terralume"));

    // The one seeded source of the run, shared by every Generate.
    terralume::SeededRandom random;
    terralume::ui::TWorld1 World1(random);
    terralume::ui::TWorldScr WorldScr(random);
    World1.setMapWindow(&WorldScr);

    World1.show();
    terralume::ui::TerralumeApplication::exec();
    return 0;
}
