#include "WorldPreview.h"

#include "Generator.h"

#include <QStringList>

#include <algorithm>
#include <any>
#include <array>
#include <new>
#include <vector>

namespace terralume {

QImage worldThumbnail(const World &world, Tint tint, int side)
{
    const ColourTable table = buildColourTable(world.WaterOffset, tint);
    std::array<Rgb8, 256> colours;
    for (std::size_t h = 0; h < table.size(); ++h)
        colours[h] = widen565(table[h]);

    // Thumbnail pixel i covers the map's pixels [i * cells / side, (i + 1) * cells / side).
    const int cells = world.Heights.side();
    side = std::clamp(side, 1, cells);
    std::vector<int> pixelOf(static_cast<std::size_t>(cells));
    for (int i = 0; i < side; ++i)
        for (int c = i * cells / side; c < (i + 1) * cells / side; ++c)
            pixelOf[static_cast<std::size_t>(c)] = i;

    QImage picture(side, side, QImage::Format_RGB32);
    if (picture.isNull())
        throw std::bad_alloc();
    struct Sum {
        std::uint32_t red = 0, green = 0, blue = 0, count = 0;
    };
    std::vector<Sum> row(static_cast<std::size_t>(side));
    // The grid is stored by column: one thumbnail column gathers whole map
    // columns, read in memory order.
    for (int i = 0; i < side; ++i) {
        std::fill(row.begin(), row.end(), Sum{});
        for (int x = i * cells / side; x < (i + 1) * cells / side; ++x) {
            const std::uint8_t *column = world.Heights.column(x);
            for (int y = 0; y < cells; ++y) {
                const Rgb8 c = colours[column[y]];
                Sum &sum = row[static_cast<std::size_t>(pixelOf[static_cast<std::size_t>(y)])];
                sum.red += c.red;
                sum.green += c.green;
                sum.blue += c.blue;
                ++sum.count;
            }
        }
        for (int j = 0; j < side; ++j) {
            const Sum &sum = row[static_cast<std::size_t>(j)];
            const auto mean = [&](std::uint32_t total) {
                return static_cast<int>((total + sum.count / 2) / sum.count);
            };
            reinterpret_cast<QRgb *>(picture.scanLine(j))[i] = qRgb(mean(sum.red), mean(sum.green), mean(sum.blue));
        }
    }
    return picture;
}

namespace {

struct Kept {
    QImage thumbnail;
    std::shared_ptr<const World> world;
};

} // namespace

void keepThumbnails(SearchRequest &request, int heatPosition, int side)
{
    const Tint tint = tintFromHeatPosition(heatPosition);
    request.keep = [tint, side](const World &world) {
        return std::any(Kept{worldThumbnail(world, tint, side), std::make_shared<const World>(world)});
    };
}

WorldPreview previewOf(const FoundWorld &found)
{
    const Kept *kept = std::any_cast<Kept>(&found.kept);
    return kept ? WorldPreview{found.seed, found.figures, kept->thumbnail, kept->world}
                : WorldPreview{found.seed, found.figures, {}, {}};
}

QString landmassesText(int landmasses)
{
    return landmasses == 1 ? QStringLiteral("1 landmass") : QStringLiteral("%1 landmasses").arg(landmasses);
}

QString figuresText(const WorldFigures &figures, const QString &separator)
{
    const QString land = QString::fromStdString(percentText(figures.landCells, figures.cells));
    const QString largest = QString::fromStdString(percentText(figures.largestCells, figures.cells));
    return QStringList{QStringLiteral("land %1 %").arg(land), landmassesText(figures.landmasses),
                       QStringLiteral("largest %1 %").arg(largest),
                       QStringLiteral("highest point %1").arg(figures.highest)}
        .join(separator);
}

QString figuresText(const WorldPreview &preview, bool lineBreaks)
{
    const QString separator = lineBreaks ? QStringLiteral("\n") : QStringLiteral(", ");
    return QStringLiteral("Seed %1%2").arg(preview.seed).arg(lineBreaks ? separator : QStringLiteral(": ")) +
           figuresText(preview.figures, separator);
}

} // namespace terralume
