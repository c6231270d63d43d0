#pragma once

#include <QLabel>
#include <QString>

namespace ornivex {

// A line of text that says what a press did, without taking the focus or
// moving anything: hidden while it has nothing to say, the whole message in
// its tooltip and elided in the middle when it is wider than the line.
// Screen readers get it as a notification that appears with each message,
// the one kind of change that Orca speaks from a control without focus.
class StatusLine : public QLabel {
    Q_OBJECT

public:
    explicit StatusLine(QWidget *parent = nullptr);

    void showMessage(const QString &message);
    void clearMessage();
    const QString &message() const { return m_message; }

protected:
    void resizeEvent(QResizeEvent *event) override;

private:
    void elide();

    QString m_message;
};

// Qt shows a tooltip as rich text when it looks like HTML. A folder named
// "<img src=...>" must show as it is named, so such a text is escaped.
QString plainToolTip(const QString &text);

} // namespace ornivex
