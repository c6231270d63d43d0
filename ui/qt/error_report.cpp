#include "error_report.h"

#include "config_file_writer.h"
#include "form1.h"
#include "unicode_text.h"

#include <QLabel>
#include <QMessageBox>

#include <exception>

namespace ornivex {

void ErrorReport::runCommand(QWidget *window, const std::function<void()> &command)
{
    try {
        command();
    } catch (const ConfigWriteError &error) {
        show(window, error);
    } catch (const std::exception &error) {
        show(window, ConfigWriteError(0, fromAscii(kConfigFileName), fromUtf8(error.what())));
    } catch (...) {
        show(window, ConfigWriteError(0, fromAscii(kConfigFileName), u"an unknown error occurred"));
    }
}

// The report's first line is the box's text, the rest its informative text.
void ErrorReport::show(QWidget *window, const ConfigWriteError &error)
{
    const QString report = QString::fromStdU16String(error.report());
    const qsizetype firstLineEnd = report.indexOf(QLatin1String("\n\n"));
    QMessageBox box(QMessageBox::Critical, QString::fromStdU16String(std::u16string(form::kReportTitle)),
                    report.left(firstLineEnd), QMessageBox::Ok, window);
    box.setObjectName(QStringLiteral("errorReport"));
    box.setInformativeText(report.mid(firstLineEnd + 2));
    // Paths and user names are shown as they are named, even when they look
    // like HTML: no markup, no links.
    box.setTextFormat(Qt::PlainText);
    if (auto *informative = box.findChild<QLabel *>(QStringLiteral("qt_msgbox_informativelabel")))
        informative->setTextFormat(Qt::PlainText);
    box.exec();
}

} // namespace ornivex
