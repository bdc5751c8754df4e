// Looks at windows on an X server from outside the program that shows them.
//
//   lumeno-screenshot save OUT.png [WINDOW]         the window (or the whole screen) as PNG
//   lumeno-screenshot drawn WINDOW X Y W H          pixels of the rectangle in a class colour
//   lumeno-screenshot blocks WINDOW X Y W H N       N×N blocks of the rectangle that are not
//                                                   of one colour (0: enlarged unsmoothed)
//
// WINDOW is an X window id (decimal or 0x…), as xdotool and xwininfo print it; the
// rectangle is in the window's device pixels.
#include <QGuiApplication>
#include <QImage>
#include <QPixmap>
#include <QScreen>
#include <cstdio>
#include <cstring>

namespace {

int Usage() {
    std::fprintf(stderr,
                 "usage: lumeno-screenshot save OUT.png [WINDOW]\n"
                 "       lumeno-screenshot drawn WINDOW X Y W H\n"
                 "       lumeno-screenshot blocks WINDOW X Y W H N\n");
    return 2;
}

QImage Grab(const char* window) {
    bool ok = false;
    const WId id = window ? QString::fromLatin1(window).toULongLong(&ok, 0) : 0;
    if (window && !ok) return {};
    QScreen* screen = QGuiApplication::primaryScreen();
    return screen ? screen->grabWindow(id).toImage().convertToFormat(QImage::Format_RGB32)
                  : QImage();
}

// The default colours of the four traffic classes.
bool IsClassColour(QRgb c) {
    const QRgb colours[] = {qRgb(0, 128, 0), qRgb(0, 255, 0), qRgb(192, 64, 0), qRgb(255, 128, 0)};
    for (QRgb k : colours) {
        if ((c & 0xFFFFFF) == (k & 0xFFFFFF)) return true;
    }
    return false;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) return Usage();
    qputenv("QT_QPA_PLATFORM", "xcb");
    QGuiApplication app(argc, argv);
    const char* mode = argv[1];
    if (std::strcmp(mode, "save") == 0 && (argc == 3 || argc == 4)) {
        const QImage image = Grab(argc == 4 ? argv[3] : nullptr);
        if (image.isNull() || !image.save(QString::fromLocal8Bit(argv[2]), "PNG")) {
            std::fprintf(stderr, "lumeno-screenshot: cannot grab or save %s\n", argv[2]);
            return 1;
        }
        return 0;
    }
    const bool drawn = std::strcmp(mode, "drawn") == 0 && argc == 7;
    const bool blocks = std::strcmp(mode, "blocks") == 0 && argc == 8;
    if (!drawn && !blocks) return Usage();
    const QImage image = Grab(argv[2]);
    if (image.isNull()) {
        std::fprintf(stderr, "lumeno-screenshot: cannot grab window %s\n", argv[2]);
        return 1;
    }
    const QRect area =
        QRect(std::atoi(argv[3]), std::atoi(argv[4]), std::atoi(argv[5]), std::atoi(argv[6]))
            .intersected(image.rect());
    long count = 0;
    if (drawn) {
        for (int y = area.top(); y <= area.bottom(); ++y) {
            for (int x = area.left(); x <= area.right(); ++x)
                count += IsClassColour(image.pixel(x, y));
        }
    } else {
        const int n = std::max(1, std::atoi(argv[7]));
        for (int y = area.top(); y + n - 1 <= area.bottom(); y += n) {
            for (int x = area.left(); x + n - 1 <= area.right(); x += n) {
                const QRgb first = image.pixel(x, y);
                bool uniform = true;
                for (int dy = 0; dy < n && uniform; ++dy) {
                    for (int dx = 0; dx < n && uniform; ++dx)
                        uniform = image.pixel(x + dx, y + dy) == first;
                }
                count += !uniform;
            }
        }
    }
    std::printf("%ld\n", count);
    return 0;
}
