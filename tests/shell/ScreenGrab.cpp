// pv_shell_grab <file.png>: saves the X screen named by DISPLAY. Exits 1 when nothing could be
// grabbed or the screen is one flat colour (nothing drawn yet).

#include <QGuiApplication>
#include <QImage>
#include <QPixmap>
#include <QScreen>

#include <cstdio>

int main(int argc, char* argv[])
{
    qputenv("QT_QPA_PLATFORM", "xcb");
    QGuiApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: pv_shell_grab <file.png>\n");
        return 2;
    }
    QScreen* screen = QGuiApplication::primaryScreen();
    if (screen == nullptr)
        return 1;
    const QImage image = screen->grabWindow(0).toImage();
    if (image.isNull() || !image.save(QString::fromLocal8Bit(argv[1]), "PNG"))
        return 1;
    const QRgb first = image.pixel(0, 0);
    for (int y = 0; y < image.height(); y += 4)
        for (int x = 0; x < image.width(); x += 4)
            if (image.pixel(x, y) != first)
                return 0;
    std::fprintf(stderr, "pv_shell_grab: the screen is blank\n");
    return 1;
}
