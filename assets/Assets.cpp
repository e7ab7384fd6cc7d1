#include "Assets.h"

#include <mutex>

// Resources in a static library are only linked in when something refers
// to them; the initialiser must be called from outside any namespace.
static void initTerralumeResources() { Q_INIT_RESOURCE(terralume); }

namespace terralume {

void loadAssets()
{
    static std::once_flag once;
    std::call_once(once, initTerralumeResources);
}

QIcon programIcon()
{
    loadAssets();
    QIcon icon(kIconResource);
    for (const int size : {16, 24, 48, 64, 128, 256})
        icon.addFile(QStringLiteral(":/terralume/icons/terralume-%1.png").arg(size), QSize(size, size));
    return icon;
}

} // namespace terralume
