#include "status_line.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QTextDocument>

namespace ornivex {
namespace {

// What assistive technology sees of a status line: a notification whose
// name is the whole message, not the elided text on screen.
//
// Qt 6.4 offers no announcement event, and Orca presents changes of a
// label's text, or of a description, only for the control that has the
// focus; on top of that, Qt 6.4 sends a description change without the new
// text, which Orca then cannot speak. Orca does speak a notification that
// starts to show, wherever the focus is, and keeps it in its list of
// notifications. So each message shows the line anew (hide, then show), and
// Qt's ObjectShow event becomes the AT-SPI "showing" change Orca presents.
class AccessibleStatusLine : public QAccessibleWidget {
public:
    explicit AccessibleStatusLine(StatusLine *line)
        : QAccessibleWidget(line, QAccessible::Notification)
    {
    }

    QString text(QAccessible::Text kind) const override
    {
        if (kind == QAccessible::Name)
            return static_cast<const StatusLine *>(widget())->message();
        return QAccessibleWidget::text(kind);
    }
};

QAccessibleInterface *accessibleStatusLine(const QString &className, QObject *object)
{
    if (className == QLatin1String(StatusLine::staticMetaObject.className()))
        return new AccessibleStatusLine(static_cast<StatusLine *>(object));
    return nullptr;
}

} // namespace

StatusLine::StatusLine(QWidget *parent)
    : QLabel(parent)
{
    static const bool factoryInstalled = [] {
        QAccessible::installFactory(accessibleStatusLine);
        return true;
    }();
    Q_UNUSED(factoryInstalled);
    // A folder may be named like HTML ("<b>"); the line shows it as named.
    setTextFormat(Qt::PlainText);
    hide();
}

void StatusLine::showMessage(const QString &message)
{
    hide();
    m_message = message;
    setToolTip(plainToolTip(message));
    elide();
    show();
}

void StatusLine::clearMessage()
{
    hide();
    m_message.clear();
    setToolTip({});
    setText({});
}

void StatusLine::resizeEvent(QResizeEvent *event)
{
    QLabel::resizeEvent(event);
    elide();
}

// The middle goes first: the start of a path tells where, its end the file
// and the time.
void StatusLine::elide()
{
    setText(fontMetrics().elidedText(m_message, Qt::ElideMiddle, contentsRect().width()));
}

QString plainToolTip(const QString &text)
{
    if (!Qt::mightBeRichText(text))
        return text;
    return QStringLiteral("<p style=\"white-space:pre\">%1</p>").arg(text.toHtmlEscaped());
}

} // namespace ornivex
