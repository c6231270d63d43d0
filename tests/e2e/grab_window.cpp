// Saves a PNG of an X11 window: grab_window <window id> <file.png>
#include <QGuiApplication>
#include <QPixmap>
#include <QScreen>

#include <cstdio>

int main(int argc, char *argv[])
{
    QGuiApplication app(argc, argv);
    if (argc != 3) {
        std::fputs("usage: grab_window <window id> <file.png>\n", stderr);
        return 2;
    }
    const QPixmap shot = QGuiApplication::primaryScreen()->grabWindow(QByteArray(argv[1]).toULongLong());
    return !shot.isNull() && shot.save(QString::fromLocal8Bit(argv[2])) ? 0 : 1;
}
