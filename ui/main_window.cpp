#include "main_window.h"

#include "error_report.h"
#include "program_folder.h"
#include "unicode_text.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QIcon>
#include <QImageReader>
#include <QLabel>
#include <QLineEdit>
#include <QPixmap>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QStyle>
#include <QStyleOptionFrame>
#include <QStyleOptionGroupBox>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>
#include <limits>

namespace ornivex {
namespace {

QString text(std::string_view latin1)
{
    return QString::fromLatin1(latin1.data(), static_cast<qsizetype>(latin1.size()));
}

// The fixed layout, in twips.
constexpr Twips kClientArea{0, 0, 8265, 6510};
constexpr Twips kFrame1{60, 60, 3795, 2535};
constexpr Twips kFrame2{3960, 60, 1755, 2535};
constexpr Twips kFrame3{60, 2640, 8115, 3375};
constexpr Twips kFrame4{5820, 60, 2355, 2535};
constexpr Twips kFrequency{1860, 2100, 375, 285};
constexpr Twips kLabel1{120, 2160, 1635, 255};
constexpr Twips kCommand1{6660, 6120, 1515, 315};
constexpr int kRowPitch = 300;

// Weapons fill two columns of seven.
Twips weaponPlace(int index)
{
    const bool rightColumn = index >= 7;
    const int row = rightColumn ? index - 7 : index;
    const int width = index == 2 ? 1755 : index == 10 ? 1575 : 1335;
    return {rightColumn ? 1980 : 120, 300 + kRowPitch * row, width, 255};
}

Twips grenadePlace(int index)
{
    return {120, 300 + kRowPitch * index, index == 1 || index == 4 ? 1575 : 1455, 255};
}

Twips settingsPlace(int index)
{
    return {120, 300 + kRowPitch * index, index == 5 ? 1995 : 2055, 255};
}

Twips messagePlace(int index)
{
    return {60, 240 + kRowPitch * index, 7935, 285};
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

// What the command's tooltip says: the file it writes.
QString commandDescription(const Form1 &window)
{
    try {
        return QString::fromStdU16String(u"Writes " + pathForDisplay(window.outputDirectory() / kConfigFileName));
    } catch (const ConfigWriteError &) {
        return QStringLiteral("Writes %1 into this program's folder, which is unknown").arg(kConfigFileName);
    }
}

} // namespace

Form1::Form1(QWidget *parent)
    : QWidget(parent)
{
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(QStringLiteral("ORNIVEX_CONFIG"));
    // Naming the format spares Qt loading every image plugin to guess it.
    QImageReader icon(QStringLiteral(":/icons/ornivex.png"), "png");
    icon.setAutoDetectImageFormat(false);
    setWindowIcon(QPixmap::fromImage(icon.read()));
    m_canvas = new QWidget(this);
    m_canvas->setObjectName(QStringLiteral("canvas"));

    Frame1 = createWeaponFrame();
    Frame2 = createGrenadeFrame();
    Frame3 = createMessageFrame();
    Frame4 = createSettingsFrame();

    Command1 = new QPushButton(QStringLiteral("Create Config File"), m_canvas);
    Command1->setObjectName(QStringLiteral("Command1"));
    Command1->setToolTip(commandDescription(*this));
    Command1->setAccessibleDescription(Command1->toolTip());
    Command1->setAutoDefault(false);
    Command1->setDefault(false);
    place(Command1, kCommand1);
    connect(Command1, &QPushButton::clicked, this,
            [this] { ErrorReport::runCommand(this, [this] { createConfigFile(); }); });

    applyScale();
    fitToScreen();
    setTabOrder();
    chkWeapon.front()->setFocus();
}

QGroupBox *Form1::createFrame(const char *name, std::string_view caption, Twips twips)
{
    auto *frame = new QGroupBox(text(caption), m_canvas);
    frame->setObjectName(QLatin1String(name));
    place(frame, twips);
    return frame;
}

std::vector<QCheckBox *> Form1::createFlagBoxes(QGroupBox *frame, FlagGroup group, Twips (*placeOf)(int))
{
    const FlagGroupInfo &info = OptionCatalogue::group(group);
    std::vector<QCheckBox *> boxes;
    for (const FlagEntry &entry : info.entries) {
        auto *box = new QCheckBox(text(entry.caption), frame);
        box->setObjectName(text(info.checkBoxArrayName) + u'_' + QString::number(entry.index));
        box->setChecked(entry.initiallyChecked);
        place(box, placeOf(entry.index));
        boxes.push_back(box);
    }
    return boxes;
}

QGroupBox *Form1::createWeaponFrame()
{
    const FlagGroupInfo &info = OptionCatalogue::group(FlagGroup::WeaponBan);
    QGroupBox *frame = createFrame("Frame1", info.frameCaption, kFrame1);
    chkWeapon = createFlagBoxes(frame, FlagGroup::WeaponBan, weaponPlace);
    return frame;
}

QGroupBox *Form1::createGrenadeFrame()
{
    const FlagGroupInfo &info = OptionCatalogue::group(FlagGroup::GrenadeBan);
    QGroupBox *frame = createFrame("Frame2", info.frameCaption, kFrame2);
    chkGrenade = createFlagBoxes(frame, FlagGroup::GrenadeBan, grenadePlace);
    return frame;
}

QGroupBox *Form1::createMessageFrame()
{
    QGroupBox *frame = createFrame("Frame3", OptionCatalogue::kMessageFrameCaption, kFrame3);
    for (int i = 0; i < OptionCatalogue::kMessageCount; ++i) {
        auto *edit = new QLineEdit(text(OptionCatalogue::messageInitialText(i)), frame);
        edit->setObjectName(text(OptionCatalogue::kMessageArrayName) + u'_' + QString::number(i));
        edit->setAccessibleName(QStringLiteral("Message %1").arg(i));
        // QLineEdit stops at 32767 characters by default; a message has no limit.
        edit->setMaxLength(std::numeric_limits<int>::max());
        edit->setCursorPosition(0);
        place(edit, messagePlace(i));
        txtMessage.at(static_cast<std::size_t>(i)) = edit;
    }
    return frame;
}

QGroupBox *Form1::createSettingsFrame()
{
    const FlagGroupInfo &info = OptionCatalogue::group(FlagGroup::Settings);
    QGroupBox *frame = createFrame("Frame4", info.frameCaption, kFrame4);
    chkSettings = createFlagBoxes(frame, FlagGroup::Settings, settingsPlace);

    txtFrequency = new QLineEdit(text(OptionCatalogue::kFrequencyInitialText), frame);
    txtFrequency->setObjectName(QStringLiteral("txtFrequency"));
    txtFrequency->setAccessibleName(text(OptionCatalogue::kFrequencyLabel));
    txtFrequency->setMaxLength(std::numeric_limits<int>::max());
    place(txtFrequency, kFrequency);

    Label1 = new QLabel(text(OptionCatalogue::kFrequencyLabel), frame);
    Label1->setObjectName(QStringLiteral("Label1"));
    Label1->setBuddy(txtFrequency);
    place(Label1, kLabel1);
    return frame;
}

void Form1::place(QWidget *widget, Twips twips)
{
    m_placements.emplace_back(widget, twips);
}

void Form1::applyScale()
{
    double scale = 1.0 / 15; // 96 dots per inch
    for (const auto &[widget, twips] : m_placements) {
        const QSize needed = neededSize(widget);
        scale = std::max({scale, needed.width() / double(twips.width), needed.height() / double(twips.height)});
    }
    // The frequency box grows left into the label's unused width, so the
    // label's text, the gap between them and the box's widest text share the
    // row (a pixel more for rounding).
    const int frequencyWidth = widestFrequencyWidth(txtFrequency);
    const int labelGap = kFrequency.left - (kLabel1.left + kLabel1.width);
    const int rowTwips = kFrequency.left + kFrequency.width - kLabel1.left - labelGap;
    scale = std::max(scale, (Label1->sizeHint().width() + frequencyWidth + 2) / double(rowTwips));
    m_pixelsPerTwip = scale;

    // Scaling both edges keeps neighbours that touch in twips touching in pixels.
    const auto px = [scale](int twips) { return static_cast<int>(std::lround(twips * scale)); };
    for (const auto &[widget, twips] : m_placements) {
        widget->setGeometry(QRect(QPoint(px(twips.left), px(twips.top)),
                                  QPoint(px(twips.left + twips.width) - 1, px(twips.top + twips.height) - 1)));
    }
    m_canvas->resize(px(kClientArea.width), px(kClientArea.height));

    // The frequency box keeps its right edge and grows left to show its
    // widest text; the label gives up the width its text does not need.
    QRect box = txtFrequency->geometry();
    if (box.width() < frequencyWidth) {
        box.setLeft(box.right() + 1 - frequencyWidth);
        txtFrequency->setGeometry(box);
        QRect label = Label1->geometry();
        label.setRight(box.left() - (px(kFrequency.left) - px(kLabel1.left + kLabel1.width)) - 1);
        Label1->setGeometry(label);
    }

    // Right to left, every control stands mirrored in its container.
    if (layoutDirection() == Qt::RightToLeft) {
        for (const auto &placement : m_placements) {
            QWidget *widget = placement.first;
            widget->setGeometry(
                QStyle::visualRect(Qt::RightToLeft, widget->parentWidget()->rect(), widget->geometry()));
        }
    }
}

// A window larger than the screen's free area would leave controls out of
// reach. It then takes the free area, less room for the window manager's
// title bar and borders (unknown until the window is shown, so estimated
// from the style), and the canvas scrolls inside it. Otherwise the window is
// the canvas's size and needs no scroll area, which spares every start the
// scroll area's widgets.
void Form1::fitToScreen()
{
    const QSize canvas = m_canvas->size();
    QSize room = canvas;
    if (screen() != nullptr) {
        const int border = style()->pixelMetric(QStyle::PM_MdiSubWindowFrameWidth, nullptr, this);
        room = screen()->availableGeometry().size()
            - QSize(2 * border, 2 * border + style()->pixelMetric(QStyle::PM_TitleBarHeight, nullptr, this));
    }
    if (canvas.boundedTo(room) == canvas) {
        resize(canvas);
        return;
    }
    auto *scrollArea = new QScrollArea(this);
    scrollArea->setFrameShape(QFrame::NoFrame);
    scrollArea->setFocusPolicy(Qt::NoFocus); // the controls take focus, not the area around them
    scrollArea->setWidget(m_canvas);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(QMargins());
    layout->addWidget(scrollArea);

    QSize size = canvas.boundedTo(room);
    if (size.height() < canvas.height())
        size.setWidth(std::min(canvas.width() + scrollArea->verticalScrollBar()->sizeHint().width(), room.width()));
    if (size.width() < canvas.width())
        size.setHeight(
            std::min(canvas.height() + scrollArea->horizontalScrollBar()->sizeHint().height(), room.height()));
    resize(size);
}

// Keyboard focus runs in catalogue order through every control that takes
// it; the frames and the label never take focus.
void Form1::setTabOrder()
{
    std::vector<QWidget *> chain(chkWeapon.begin(), chkWeapon.end());
    chain.insert(chain.end(), chkGrenade.begin(), chkGrenade.end());
    chain.insert(chain.end(), txtMessage.begin(), txtMessage.end());
    chain.insert(chain.end(), chkSettings.begin(), chkSettings.end());
    chain.push_back(txtFrequency);
    chain.push_back(Command1);
    for (std::size_t i = 1; i < chain.size(); ++i)
        QWidget::setTabOrder(chain[i - 1], chain[i]);
}

ConfigSnapshot Form1::gatherSnapshot() const
{
    ConfigSnapshot snapshot;
    const auto gather = [&snapshot](FlagGroup group, const std::vector<QCheckBox *> &boxes) {
        for (std::size_t i = 0; i < boxes.size(); ++i)
            snapshot.flag(group, static_cast<int>(i)) = boxes[i]->checkState() == Qt::Checked;
    };
    gather(FlagGroup::WeaponBan, chkWeapon);
    gather(FlagGroup::GrenadeBan, chkGrenade);
    gather(FlagGroup::Settings, chkSettings);
    snapshot.frequency = txtFrequency->text().toStdU16String();
    for (std::size_t i = 0; i < txtMessage.size(); ++i)
        snapshot.messages.at(i) = txtMessage.at(i)->text().toStdU16String();
    return snapshot;
}

// The command: gathers the window's state and writes the file. It handles no
// error itself; the error report shows what goes wrong.
void Form1::createConfigFile() const
{
    WriteConfigFile(gatherSnapshot(), outputDirectory());
}

std::filesystem::path Form1::outputDirectory() const
{
    return m_outputDirectory.empty() ? ProgramFolder() : m_outputDirectory;
}

} // namespace ornivex
