#include "main_window.h"
#include "start_application.h"

int main(int argc, char *argv[])
{
    const auto app = ornivex::startApplication(argc, argv);
    ornivex::Form1 window;
    window.show();
    return QApplication::exec();
}
