#include "main_window.h"

#include <QApplication>

#include <cstdio>
#include <cstdlib>

namespace {

bool isSet(const char *variable)
{
    const char *value = std::getenv(variable);
    return value != nullptr && *value != '\0';
}

// Without any display Qt would abort with a long diagnostic; say it plainly.
bool hasDisplay()
{
    return isSet("DISPLAY") || isSet("WAYLAND_DISPLAY") || isSet("QT_QPA_PLATFORM");
}

} // namespace

int main(int argc, char *argv[])
{
    if (!hasDisplay()) {
        std::fputs("ORNIVEX Config needs a desktop session to show its window, "
                   "but no display was found.\n",
                   stderr);
        return 1;
    }
    QApplication app(argc, argv);
    ornivex::Form1 window;
    window.show();
    return QApplication::exec();
}
