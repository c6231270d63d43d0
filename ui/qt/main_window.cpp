#include "main_window.h"

#include "error_report.h"
#include "form1.h"
#include "program_folder.h"
#include "unicode_text.h"

#include <QCheckBox>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QGroupBox>
#include <QGuiApplication>
#include <QIcon>
#include <QImageReader>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMimeData>
#include <QPixmap>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QStyle>
#include <QStyleOptionFrame>
#include <QStyleOptionGroupBox>
#include <QTextDocument>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <limits>

namespace ornivex {
namespace {

QString qtText(std::u16string_view text)
{
    return QString(reinterpret_cast<const QChar *>(text.data()), static_cast<qsizetype>(text.size()));
}

// The pixels a control needs to show its caption or text uncut.
QSize neededSize(QWidget *widget)
{
    if (auto *frame = qobject_cast<QGroupBox *>(widget)) {
        QStyleOptionGroupBox option;
        option.initFrom(frame);
        // Measured left to right: mirrored, the caption would stand at the
        // far end of the probe rectangle, while the width it needs is the same.
        option.direction = Qt::LeftToRight;
        option.text = frame->title();
        option.subControls = QStyle::SC_GroupBoxLabel | QStyle::SC_GroupBoxFrame;
        option.rect = QRect(0, 0, 10000, 10000);
        const QRect label = frame->style()->subControlRect(QStyle::CC_GroupBox, &option, QStyle::SC_GroupBoxLabel,
                                                           frame);
        return {label.right() + 1, 0};
    }
    if (qobject_cast<QLineEdit *>(widget))
        return {0, widget->minimumSizeHint().height()};
    return widget->sizeHint();
}

// The frequency box's width for its widest text: a minus sign and five digits.
int widestFrequencyWidth(QLineEdit *box)
{
    const QFontMetrics metrics = box->fontMetrics();
    int digit = 0;
    for (char c = '0'; c <= '9'; ++c)
        digit = std::max(digit, metrics.horizontalAdvance(QLatin1Char(c)));
    // Inside its frame and margins QLineEdit keeps 2 pixels free on each side,
    // one for the cursor and room for glyphs that reach past their advance.
    const QMargins margins = box->textMargins() + box->contentsMargins();
    const int text = metrics.horizontalAdvance(QLatin1Char('-')) + 5 * digit + 2 * 2 + 1
        + std::max(0, -metrics.minLeftBearing()) + std::max(0, -metrics.minRightBearing()) + margins.left()
        + margins.right();
    QStyleOptionFrame option;
    option.initFrom(box);
    option.lineWidth = box->style()->pixelMetric(QStyle::PM_DefaultFrameWidth, &option, box);
    return box->style()->sizeFromContents(QStyle::CT_LineEdit, &option, QSize(text, 0), box).width();
}

// Qt shows a tooltip as rich text when it looks like HTML. A folder named
// "<img src=...>" must show as it is named, so such a text is escaped.
QString plainToolTip(const QString &text)
{
    if (!Qt::mightBeRichText(text))
        return text;
    return QStringLiteral("<p style=\"white-space:pre\">%1</p>").arg(text.toHtmlEscaped());
}

// The command's button. Enter and keypad Enter press it as Space does, down
// on the key's press and clicked on its release, so that a report it opens
// never receives the held key. The window has no default button: Enter
// elsewhere does nothing.
class CommandButton : public QPushButton {
public:
    using QPushButton::QPushButton;

protected:
    void keyPressEvent(QKeyEvent *event) override
    {
        if (!isEnter(*event)) {
            QPushButton::keyPressEvent(event);
            return;
        }
        if (!event->isAutoRepeat())
            setDown(true);
    }

    void keyReleaseEvent(QKeyEvent *event) override
    {
        if (!isEnter(*event)) {
            QPushButton::keyReleaseEvent(event);
            return;
        }
        if (!event->isAutoRepeat() && isDown()) {
            setDown(false);
            click();
        }
    }

private:
    static bool isEnter(const QKeyEvent &event)
    {
        return (event.key() == Qt::Key_Return || event.key() == Qt::Key_Enter)
            && (event.modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier;
    }
};

bool hasLineBreak(const QString &text)
{
    return text.contains(u'\n') || text.contains(u'\r');
}

// A text box. What is pasted or dropped into it arrives as one line, each
// line break (CR LF, CR or LF) one space, so that the box shows what the file
// will hold; a text without line breaks takes Qt's own way in. Undo takes
// such a paste away again.
class TextBox : public QLineEdit {
public:
    using QLineEdit::QLineEdit;

protected:
    void keyPressEvent(QKeyEvent *event) override
    {
        // Ctrl+Shift+Insert pastes X11's selection, as in QLineEdit.
        const bool selection = event->key() == Qt::Key_Insert
            && event->modifiers() == (Qt::ControlModifier | Qt::ShiftModifier);
        if (!event->matches(QKeySequence::Paste)
            || !insertAsOneLine(
                QGuiApplication::clipboard()->text(selection ? QClipboard::Selection : QClipboard::Clipboard)))
            QLineEdit::keyPressEvent(event);
    }

    // The standard menu, whose Paste takes the way Ctrl+V takes. Qt names
    // the action in its own translation, which QLineEdit::tr gives as well.
    void contextMenuEvent(QContextMenuEvent *event) override
    {
        QMenu *menu = createStandardContextMenu();
        const QString paste = QLineEdit::tr("&Paste");
        for (QAction *action : menu->actions()) {
            if (action->text().section(u'\t', 0, 0) != paste)
                continue;
            disconnect(action, nullptr, this, nullptr);
            connect(action, &QAction::triggered, this, [this] {
                if (!insertAsOneLine(QGuiApplication::clipboard()->text()))
                    QLineEdit::paste();
            });
        }
        menu->setAttribute(Qt::WA_DeleteOnClose);
        menu->popup(event->globalPos());
    }

    // The middle button pastes X11's selection where it was pressed.
    void mouseReleaseEvent(QMouseEvent *event) override
    {
        if (event->button() == Qt::MiddleButton && QGuiApplication::clipboard()->supportsSelection() && !isReadOnly()) {
            const QString text = QGuiApplication::clipboard()->text(QClipboard::Selection);
            if (hasLineBreak(text)) {
                deselect();
                insertAsOneLine(text);
                return;
            }
        }
        QLineEdit::mouseReleaseEvent(event);
    }

    void dropEvent(QDropEvent *event) override
    {
        const QString text = event->mimeData()->text();
        if (!hasLineBreak(text)) {
            QLineEdit::dropEvent(event);
            return;
        }
        QMimeData oneLine;
        oneLine.setText(asOneLine(text));
        QDropEvent drop(event->position(), event->possibleActions(), &oneLine, event->buttons(), event->modifiers());
        drop.setDropAction(event->dropAction());
        QLineEdit::dropEvent(&drop);
        event->setDropAction(drop.dropAction());
        event->setAccepted(drop.isAccepted());
    }

private:
    static QString asOneLine(const QString &text) { return qtText(form::pastedText(text.toStdU16String())); }

    // Inserts the text as one line in place of the selection; false, and
    // nothing inserted, for a text without line breaks.
    bool insertAsOneLine(const QString &text)
    {
        if (isReadOnly() || !hasLineBreak(text))
            return false;
        insert(asOneLine(text));
        return true;
    }
};

} // namespace

Form1::Form1(QWidget *parent)
    : QWidget(parent)
{
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(qtText(form::kWindowTitle));
    // Naming the format spares Qt loading every image plugin to guess it.
    QImageReader icon(QStringLiteral(":/icons/ornivex.png"), "png");
    icon.setAutoDetectImageFormat(false);
    setWindowIcon(QPixmap::fromImage(icon.read()));
    m_canvas = new QWidget(this);
    m_canvas->setObjectName(QStringLiteral("canvas"));

    for (int i = 0; i < static_cast<int>(form::controls().size()); ++i)
        m_controls.push_back(createControl(i));

    try {
        findOutputDirectory();
    } catch (const ConfigWriteError &) { // the tooltip says so, and a press reports it
    }
    auto *command = qobject_cast<QPushButton *>(control("Command1"));
    command->setAutoDefault(false);
    command->setDefault(false);
    connect(command, &QPushButton::clicked, this,
            [this] { ErrorReport::runCommand(this, [this] { createConfigFile(); }); });

    applyScale();
    fitToScreen();
    setTabOrder();
    m_controls.at(static_cast<std::size_t>(form::focusOrder().front()))->setFocus();
}

QWidget *Form1::createControl(int position)
{
    const form::Control &entry = form::controls()[static_cast<std::size_t>(position)];
    QWidget *container = entry.container < 0 ? m_canvas : m_controls.at(static_cast<std::size_t>(entry.container));
    const QString caption = qtText(entry.caption);
    QWidget *widget = nullptr;
    switch (entry.kind) {
    case form::Kind::Frame:
        widget = new QGroupBox(caption, container);
        break;
    case form::Kind::CheckBox: {
        auto *box = new QCheckBox(caption, container);
        box->setChecked(entry.initiallyChecked);
        widget = box;
        break;
    }
    case form::Kind::TextBox: {
        auto *edit = new TextBox(caption, container);
        // QLineEdit stops at 32767 characters by default; a text box has no limit.
        edit->setMaxLength(std::numeric_limits<int>::max());
        edit->setCursorPosition(0);
        edit->setAccessibleName(qtText(form::accessibleName(entry)));
        widget = edit;
        break;
    }
    case form::Kind::Label: {
        auto *label = new QLabel(caption, container);
        label->setBuddy(control("txtFrequency"));
        widget = label;
        break;
    }
    case form::Kind::Button:
        widget = new CommandButton(caption, container);
        break;
    }
    widget->setObjectName(QString::fromStdString(entry.objectName()));
    return widget;
}

void Form1::applyScale()
{
    std::vector<form::Needed> needed;
    for (QWidget *widget : m_controls) {
        const QSize size = neededSize(widget);
        needed.push_back({size.width(), size.height()});
    }
    auto *frequency = qobject_cast<QLineEdit *>(control("txtFrequency"));
    const form::Layout layout = form::layOut(1.0 / 15, needed, widestFrequencyWidth(frequency)); // 96 dots per inch
    m_pixelsPerTwip = layout.pixelsPerTwip;
    m_canvas->resize(layout.clientWidth, layout.clientHeight);

    // Right to left, every control stands mirrored in its container.
    const bool mirror = layoutDirection() == Qt::RightToLeft;
    for (std::size_t i = 0; i < m_controls.size(); ++i) {
        const form::Control &control = form::controls()[i];
        form::Rect place = layout.places[i];
        if (mirror) {
            const int containerWidth = control.container < 0
                ? layout.clientWidth
                : layout.places[static_cast<std::size_t>(control.container)].width;
            place = form::mirrored(place, containerWidth);
        }
        m_controls[i]->setGeometry(place.left, place.top, place.width, place.height);
    }
}

// A window larger than the screen's free area would leave controls out of
// reach. It then takes the free area, less room for the window manager's
// title bar and borders (unknown until the window is shown, so estimated
// from the style), and a scroll bar's breadth more in the other direction
// where one bar is needed.
void Form1::fitToScreen()
{
    const QSize canvas = m_canvas->size();
    QSize room = canvas;
    if (screen() != nullptr) {
        const int border = style()->pixelMetric(QStyle::PM_MdiSubWindowFrameWidth, nullptr, this);
        room = screen()->availableGeometry().size()
            - QSize(2 * border, 2 * border + style()->pixelMetric(QStyle::PM_TitleBarHeight, nullptr, this));
    }
    const int bar = style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, this);
    QSize size = canvas.boundedTo(room);
    if (size.height() < canvas.height())
        size.setWidth(std::min(canvas.width() + bar, room.width()));
    if (size.width() < canvas.width())
        size.setHeight(std::min(canvas.height() + bar, room.height()));
    resize(size);
}

void Form1::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    updateScrollBars();
}

// A scroll bar shows for each direction in which the canvas does not fit the
// room the other bar leaves, and none where the window is as large as the
// canvas: every control stays within reach of the mouse, and none moves on
// the canvas. The bars are made only once the window is smaller than the
// canvas, which spares every start that fits its screen their widgets.
void Form1::updateScrollBars()
{
    const QSize canvas = m_canvas->size();
    const int breadth = style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, this);
    bool horizontal = width() < canvas.width();
    const bool vertical = height() - (horizontal ? breadth : 0) < canvas.height();
    horizontal = horizontal || (vertical && width() - breadth < canvas.width());
    if (m_horizontalBar == nullptr && (horizontal || vertical)) {
        m_horizontalBar = new QScrollBar(Qt::Horizontal, this);
        m_verticalBar = new QScrollBar(Qt::Vertical, this);
        m_barCorner = new QWidget(this);
        m_barCorner->setAutoFillBackground(true); // covers the canvas where the bars meet
        for (QScrollBar *bar : {m_horizontalBar, m_verticalBar}) {
            bar->setFocusPolicy(Qt::NoFocus); // the controls take focus, not the bars
            bar->setSingleStep(static_cast<int>(std::lround(300 * m_pixelsPerTwip))); // a row of check boxes
            connect(bar, &QScrollBar::valueChanged, this, &Form1::placeCanvas);
        }
    }
    if (m_horizontalBar != nullptr) {
        const QSize view(width() - (vertical ? breadth : 0), height() - (horizontal ? breadth : 0));
        const auto place = [this](QWidget *widget, bool shown, const QRect &leftToRight) {
            widget->setGeometry(QStyle::visualRect(layoutDirection(), rect(), leftToRight));
            widget->setVisible(shown);
        };
        m_horizontalBar->setRange(0, std::max(0, canvas.width() - view.width()));
        m_horizontalBar->setPageStep(view.width());
        m_verticalBar->setRange(0, std::max(0, canvas.height() - view.height()));
        m_verticalBar->setPageStep(view.height());
        place(m_horizontalBar, horizontal, QRect(0, view.height(), view.width(), breadth));
        place(m_verticalBar, vertical, QRect(view.width(), 0, breadth, view.height()));
        place(m_barCorner, horizontal && vertical, QRect(view.width(), view.height(), breadth, breadth));
    }
    placeCanvas();
}

// The part of the window the canvas shows in: all of it less the bars shown,
// the vertical one on the left right to left.
QRect Form1::view() const
{
    QSize view = size();
    if (m_horizontalBar != nullptr && !m_horizontalBar->isHidden())
        view.rheight() -= m_horizontalBar->height();
    if (m_verticalBar != nullptr && !m_verticalBar->isHidden())
        view.rwidth() -= m_verticalBar->width();
    return QStyle::visualRect(layoutDirection(), rect(), QRect(QPoint(0, 0), view));
}

// Right to left the canvas starts at the window's right edge, and the
// horizontal bar, mirrored, starts at the right as well.
void Form1::placeCanvas()
{
    const int across = m_horizontalBar != nullptr ? m_horizontalBar->value() : 0;
    const int down = m_verticalBar != nullptr ? m_verticalBar->value() : 0;
    m_canvas->move(isRightToLeft() ? width() - m_canvas->width() + across : -across, -down);
}

// The wheel scrolls the canvas wherever the control under it does not use
// the wheel itself: sideways when it turns more sideways than up or down.
void Form1::wheelEvent(QWheelEvent *event)
{
    const QPoint turn = event->angleDelta();
    QScrollBar *bar = std::abs(turn.x()) > std::abs(turn.y()) ? m_horizontalBar : m_verticalBar;
    if (bar == nullptr || bar->isHidden()) {
        event->ignore();
        return;
    }
    QCoreApplication::sendEvent(bar, event);
}

// Tab and Shift+Tab scroll the control they reach into sight.
bool Form1::focusNextPrevChild(bool next)
{
    if (!QWidget::focusNextPrevChild(next))
        return false;
    if (const QWidget *focused = focusWidget())
        scrollIntoView(*focused);
    return true;
}

void Form1::scrollIntoView(const QWidget &control)
{
    if (m_horizontalBar == nullptr)
        return;
    const QRect place(control.mapTo(m_canvas, QPoint(0, 0)), control.size());
    const QRect seen = view().translated(-m_canvas->pos());
    // How far the view moves over the canvas so that the control's far end,
    // and then its near end, is in sight. Right to left the near end is the
    // right one, and the bar's value grows leftwards: both mirrored.
    const auto shift = [](int first, int last, int seenFirst, int seenLast) {
        const int toLast = std::max(0, last - seenLast);
        return first < seenFirst + toLast ? first - seenFirst : toLast;
    };
    m_horizontalBar->setValue(m_horizontalBar->value()
                              + (isRightToLeft() ? shift(-place.right(), -place.left(), -seen.right(), -seen.left())
                                                 : shift(place.left(), place.right(), seen.left(), seen.right())));
    m_verticalBar->setValue(m_verticalBar->value() + shift(place.top(), place.bottom(), seen.top(), seen.bottom()));
}

// Keyboard focus runs in the form's tab order through every control that
// takes it; the frames and the label never take focus.
void Form1::setTabOrder()
{
    const std::vector<int> order = form::focusOrder();
    for (std::size_t i = 1; i < order.size(); ++i) {
        QWidget::setTabOrder(m_controls.at(static_cast<std::size_t>(order[i - 1])),
                             m_controls.at(static_cast<std::size_t>(order[i])));
    }
}

QWidget *Form1::control(std::string_view objectName) const
{
    return m_controls.at(static_cast<std::size_t>(form::find(objectName)));
}

ConfigSnapshot Form1::gatherSnapshot() const
{
    ConfigSnapshot snapshot;
    for (std::size_t i = 0; i < m_controls.size(); ++i) {
        const form::Control &control = form::controls()[i];
        if (auto *box = qobject_cast<QCheckBox *>(m_controls[i]))
            form::store(snapshot, control, box->checkState() == Qt::Checked);
        else if (auto *edit = qobject_cast<QLineEdit *>(m_controls[i]))
            form::store(snapshot, control, edit->text().toStdU16String());
    }
    return snapshot;
}

// The command: gathers the window's state and writes the file. Success
// shows nothing; the error report shows what goes wrong.
void Form1::createConfigFile()
{
    WriteConfigFile(gatherSnapshot(), findOutputDirectory());
}

// The folder may have been renamed since the last look, so the command's
// tooltip names the file anew each time the folder is found.
std::filesystem::path Form1::findOutputDirectory()
{
    try {
        std::filesystem::path folder = outputDirectory();
        setCommandDescription(
            QString::fromStdU16String(form::commandDescription(pathForDisplay(folder / kConfigFileName))));
        return folder;
    } catch (const ConfigWriteError &) {
        setCommandDescription(QString::fromStdU16String(form::commandDescription(std::nullopt)));
        throw;
    }
}

void Form1::setCommandDescription(const QString &description)
{
    QWidget *command = control("Command1");
    if (command->accessibleDescription() == description)
        return;
    command->setToolTip(plainToolTip(description));
    command->setAccessibleDescription(description);
}

std::filesystem::path Form1::outputDirectory() const
{
    return m_outputDirectory.empty() ? ProgramFolder() : m_outputDirectory;
}

} // namespace ornivex
