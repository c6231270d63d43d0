#include "error_report.h"

#include "config_file_writer.h"

#include <QMessageBox>

#include <exception>

namespace ornivex {

void ErrorReport::runCommand(QWidget *window, const std::function<void()> &command)
{
    try {
        command();
    } catch (const ConfigWriteError &error) {
        show(window, error.number(), QString::fromStdU16String(error.description()));
    } catch (const std::exception &error) {
        show(window, 0, QString::fromUtf8(error.what()));
    } catch (...) {
        show(window, 0, QStringLiteral("An unknown error occurred."));
    }
}

void ErrorReport::show(QWidget *window, int number, const QString &description)
{
    QMessageBox box(QMessageBox::Critical, QStringLiteral("ORNIVEX_CONFIG - Error"),
                    QStringLiteral("Error %1: %2").arg(number).arg(description), QMessageBox::Ok, window);
    box.setObjectName(QStringLiteral("errorReport"));
    box.setInformativeText(QStringLiteral("The configuration file was not written. Your settings are still "
                                          "in the window: fix the cause and create the file again."));
    box.exec();
}

} // namespace ornivex
