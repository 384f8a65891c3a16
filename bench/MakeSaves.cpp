// Makes a saves folder of worlds with level.dat and icon.png files as the game writes them: COUNT
// worlds for the launch benchmark, or with --demo a handful worth a screenshot.
//
// Usage: plovermantle_make_saves SAVES_FOLDER COUNT | SAVES_FOLDER --demo

#include "support/LevelDatWriter.h"

#include <QColor>
#include <QDateTime>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

namespace fs = std::filesystem;
using namespace Plovermantle::LevelDatWriter;

namespace {

constexpr qint64 hour = 60 * 60 * 1000;

struct World {
    std::string folder, name;
    qint64 played;
    int mode;
    bool hardcore;
};

// A landscape of sky, hills and ground in the given colours, with the grain a screenshot has.
QImage icon(QColor sky, QColor land, unsigned seed) {
    QImage image(64, 64, QImage::Format_RGB32);
    QPainter painter(&image);
    painter.fillRect(image.rect(), sky);
    painter.setPen(Qt::NoPen);
    painter.setBrush(land);
    painter.drawEllipse(QPoint(static_cast<int>(seed % 48), 64), 40, 26);
    painter.drawEllipse(QPoint(64 - static_cast<int>(seed % 32), 64), 30, 18);
    painter.fillRect(0, 54, 64, 10, land.darker(140));
    painter.end();
    for (int i = 0; i < 64 * 64; ++i) {
        seed = seed * 1664525u + 1013904223u;
        const QColor pixel = image.pixelColor(i % 64, i / 64).lighter(92 + int(seed >> 28));
        image.setPixelColor(i % 64, i / 64, pixel);
    }
    return image;
}

void make(const fs::path& saves, const World& world, const QImage& picture) {
    const fs::path folder = saves / world.folder;
    fs::create_directories(folder);
    if (!world.name.empty()) {
        std::ofstream(folder / "level.dat", std::ios::binary)
            << gzip(levelNbt(world.name, world.played, world.mode, world.hardcore, "1.20.4"));
    }
    if (!picture.isNull()) {
        picture.save(QString::fromStdString((folder / "icon.png").string()), "PNG");
    }
}

} // namespace

int main(int argc, char** argv) {
    QGuiApplication app(argc, argv); // for QPainter's fonts and image writers
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s SAVES_FOLDER COUNT|--demo\n", argv[0]);
        return 2;
    }
    const fs::path saves = argv[1];
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    if (std::string(argv[2]) == "--demo") {
        // Two worlds of one name, told apart by their folders; one without an icon, one with
        // nothing the game wrote.
        make(saves, {"Island Survival", "Island Survival", now - hour, 0, false},
             icon(QColor(90, 170, 230), QColor(80, 160, 60), 7));
        make(saves, {"New World", "Creative Build", now - 26 * hour, 1, false},
             icon(QColor(250, 190, 120), QColor(170, 120, 70), 21));
        make(saves, {"New World (1)", "Creative Build", now - 80 * hour, 1, false},
             icon(QColor(40, 50, 110), QColor(90, 90, 100), 40));
        make(saves, {"Hardcore 2", "Hardcore 2", now - 300 * hour, 0, true}, {});
        make(saves, {"old backup", "", 0, 0, false}, {});
        return 0;
    }
    const int count = std::stoi(argv[2]);
    for (int i = 0; i < count; ++i) {
        const std::string suffix = i == 0 ? "" : " (" + std::to_string(i) + ")";
        const auto seed = static_cast<unsigned>(i);
        make(saves,
             {"New World" + suffix, "World " + std::to_string(i), now - i * hour, i % 4, false},
             icon(QColor::fromHsv(int(seed * 37 % 360), 120, 230),
                  QColor::fromHsv(int(seed * 91 % 360), 160, 150), seed));
    }
    return 0;
}
