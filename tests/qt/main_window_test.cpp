#include "error_report.h"
#include "main_window.h"

#include <QAccessible>
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QMimeData>
#include <QPushButton>
#include <QScopeGuard>
#include <QScrollBar>
#include <QStyle>
#include <QTemporaryDir>
#include <QTextDocument>
#include <QtTest>

#include <memory>

using namespace ornivex;

namespace {

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

const QByteArray kInitialFile = readFile(QStringLiteral(ORNIVEX_TEST_DATA "/initial_state.golden"));
// The file after editWindow() below; the end-to-end test makes the same edits.
const QByteArray kEditedFile = readFile(QStringLiteral(ORNIVEX_TEST_DATA "/operator_edits.golden"));

constexpr int kBar = 10000;

QString name(const char *array, int index)
{
    return QLatin1String(array) + '_' + QString::number(index);
}

// Runs an action that opens a modal message box; returns the box's text after
// pressing its OK button, or an empty text if no box appeared. `whileShown`
// runs while the box is open.
QString answerModalBox(const std::function<void()> &action, const std::function<void(QMessageBox &)> &whileShown = {})
{
    QString text;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget())) {
            poll.stop();
            text = box->text();
            if (whileShown)
                whileShown(*box);
            box->button(QMessageBox::Ok)->click();
        }
    });
    poll.start(10);
    action();
    return text;
}

// The text a person sees in a tooltip, which Qt shows as rich text when it
// looks like HTML.
QString shownText(const QString &toolTip)
{
    if (!Qt::mightBeRichText(toolTip))
        return toolTip;
    QTextDocument document;
    document.setHtml(toolTip);
    return document.toPlainText();
}

// What screen readers were told, as each event's control and its name.
struct Told {
    QObject *object;
    QString name;
};
QList<Told> g_told;

void recordAccessibilityEvent(QAccessibleEvent *event)
{
    QAccessibleInterface *iface = event->accessibleInterface();
    g_told.push_back({event->object(), iface ? iface->text(QAccessible::Name) : QString()});
}

} // namespace

class MainWindowTest : public QObject {
    Q_OBJECT

private slots:
    // Where Qt has an accessibility bridge, the events reach the handler
    // instead (main_window_screen_reader).
    void initTestCase() { QAccessible::installUpdateHandler(recordAccessibilityEvent); }

    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        m_window = std::make_unique<Form1>();
        m_window->setOutputDirectory(QFile::encodeName(m_dir->path()).toStdString());
    }

    // Check states and texts reach the file, so commandWritesTheInitialStateAndThenTheEdits
    // proves them; this covers what the file does not show.
    void startsWithWhatTheFileDoesNotShow()
    {
        QCOMPARE(m_window->windowTitle(), "ORNIVEX_CONFIG");
        QCOMPARE(m_window->windowIcon().pixmap(32).size(), QSize(32, 32));
        QCOMPARE(control<QCheckBox>("chkWeapon_13")->text(), "Sticky Bombs");
        QCOMPARE(control<QCheckBox>("chkSettings_4")->text(), "Allow NPCs "); // the blanks are part of the caption
        QCOMPARE(control<QCheckBox>("chkSettings_5")->text(), "Use ID's in names ");
        QVERIFY(!control<QCheckBox>("chkGrenade_2")->isTristate());
        QCOMPARE(control<QLineEdit>("txtMessage_3")->accessibleName(), "Message 3");
        QCOMPARE(control<QLabel>("Label1")->buddy(), control("txtFrequency"));
        QVERIFY(!control<QPushButton>("Command1")->isDefault() && !control<QPushButton>("Command1")->autoDefault());

        // No length limit of its own, well past QLineEdit's default of 32767.
        control<QLineEdit>("txtMessage_9")->setText(QString(100000, u'x'));
        QCOMPARE(m_window->gatherSnapshot().messages[9].size(), 100000);
    }

    void everyCaptionFitsAndNothingOverlaps_data()
    {
        QTest::addColumn<Qt::LayoutDirection>("direction");
        QTest::addColumn<int>("textPercent");
        // How the window is resized from the layout's size, once it has been
        // smaller; kBar stands for a scroll bar's breadth, QSize() for no resize.
        QTest::addColumn<QSize>("resizedBy");
        QTest::addColumn<bool>("horizontalBar");
        QTest::addColumn<bool>("verticalBar");
        QTest::newRow("left to right") << Qt::LeftToRight << 100 << QSize(0, 0) << false << false;
        QTest::newRow("right to left") << Qt::RightToLeft << 100 << QSize(0, 0) << false << false;
        QTest::newRow("large text, larger than the screen") << Qt::LeftToRight << 200 << QSize() << true << true;
        QTest::newRow("large text, right to left") << Qt::RightToLeft << 200 << QSize() << true << true;
        QTest::newRow("narrower") << Qt::LeftToRight << 100 << QSize(-40, kBar) << true << false;
        QTest::newRow("lower, right to left") << Qt::RightToLeft << 100 << QSize(kBar, -40) << false << true;
        QTest::newRow("narrower and lower, right to left") << Qt::RightToLeft << 100 << QSize(-40, -40) << true << true;
        QTest::newRow("a pixel narrower: its bar makes it lower")
            << Qt::LeftToRight << 100 << QSize(-1, 0) << true << true;
    }

    // In both directions, at the default text size (which fits the 1280x1024
    // offscreen screen of desktop_screen.json) and with large text (which does
    // not), and resized by the operator.
    void everyCaptionFitsAndNothingOverlaps()
    {
        QFETCH(Qt::LayoutDirection, direction);
        QFETCH(int, textPercent);
        QFETCH(QSize, resizedBy);
        QFETCH(bool, horizontalBar);
        QFETCH(bool, verticalBar);
        const QFont defaultFont = QApplication::font();
        const auto restore = qScopeGuard([&] {
            QApplication::setFont(defaultFont);
            QApplication::setLayoutDirection(Qt::LeftToRight);
        });
        QFont font = defaultFont;
        font.setPointSizeF(font.pointSizeF() * textPercent / 100);
        QApplication::setFont(font);
        const auto leftToRight = std::make_unique<Form1>();
        QApplication::setLayoutDirection(direction);
        m_window = std::make_unique<Form1>();
        m_window->setOutputDirectory(QFile::encodeName(m_dir->path()).toStdString());

        // Right to left, the same scale and every control mirrored in its container.
        QCOMPARE(m_window->pixelsPerTwip(), leftToRight->pixelsPerTwip());
        const QHash<QString, QRect> placed = geometries(*m_window);
        for (const auto &[controlName, geometry] : geometries(*leftToRight).asKeyValueRange()) {
            QCOMPARE(placed[controlName],
                     QStyle::visualRect(direction, control(controlName)->parentWidget()->rect(), geometry));
        }

        for (auto *frame : m_window->findChildren<QGroupBox *>()) {
            const QFontMetrics metrics = frame->fontMetrics();
            QVERIFY2(metrics.horizontalAdvance(frame->title()) < frame->width(), qPrintable(frame->objectName()));
            const auto children = frame->findChildren<QWidget *>(Qt::FindDirectChildrenOnly);
            for (QWidget *child : children) {
                const QString childName = child->objectName();
                QVERIFY2(child->y() >= metrics.height(), qPrintable(childName + " overlaps the caption"));
                QVERIFY2(frame->rect().adjusted(2, 2, -2, -2).contains(child->geometry()), qPrintable(childName));
                if (!qobject_cast<QLineEdit *>(child))
                    QVERIFY2(child->sizeHint().boundedTo(child->size()) == child->sizeHint(),
                             qPrintable(childName + " is cut"));
                for (QWidget *other : children)
                    QVERIFY2(other == child || !other->geometry().intersects(child->geometry()), qPrintable(childName));
            }
        }
        QVERIFY(control("Command1")->sizeHint().width() <= control("Command1")->width());

        // The frequency box shows its widest text whole, from the first
        // character (the anchor) to the last (the cursor); both rectangles
        // are centred on their place in the text.
        auto *frequency = control<QLineEdit>("txtFrequency");
        frequency->setText("-32768");
        frequency->selectAll();
        frequency->grab(); // painting scrolls the text as far as the cursor needs
        const int first = frequency->inputMethodQuery(Qt::ImAnchorRectangle).toRect().center().x();
        const int last = frequency->inputMethodQuery(Qt::ImCursorRectangle).toRect().center().x();
        QVERIFY2(first > 0 && last < frequency->width(),
                 qPrintable(QString("text at %1..%2 in a box %3 wide").arg(first).arg(last).arg(frequency->width())));
        frequency->setText("2");

        // The window fits the screen; at the default size it is the client
        // area itself.
        m_window->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
        const double scale = m_window->pixelsPerTwip();
        const QSize clientArea(qRound(8265 * scale), qRound(6510 * scale));
        const QSize screen = m_window->screen()->availableGeometry().size();
        QVERIFY2(m_window->frameGeometry().size().boundedTo(screen) == m_window->frameGeometry().size(),
                 qPrintable(QString("window %1x%2").arg(m_window->width()).arg(m_window->height())));
        QCOMPARE(m_window->size() == clientArea, textPercent == 100);

        // A scroll bar shows for each direction in which the layout does not
        // fit the room the other bar leaves; resizing moves nothing.
        if (resizedBy != QSize()) {
            const int bar = m_window->style()->pixelMetric(QStyle::PM_ScrollBarExtent);
            const auto by = [bar](int change) { return change == kBar ? bar : change; };
            m_window->resize(clientArea / 2);
            m_window->resize(clientArea + QSize(by(resizedBy.width()), by(resizedBy.height())));
        }
        const auto barShown = [this](Qt::Orientation orientation) {
            const auto bars = m_window->findChildren<QScrollBar *>();
            return std::any_of(bars.begin(), bars.end(),
                               [&](QScrollBar *bar) { return bar->orientation() == orientation && bar->isVisible(); });
        };
        QTRY_COMPARE(barShown(Qt::Horizontal), horizontalBar);
        QCOMPARE(barShown(Qt::Vertical), verticalBar);
        QCOMPARE(geometries(*m_window), placed);

        // Each far end of the layout scrolls into sight and takes the mouse:
        // the command, the last message and the settings frame's top corner,
        // on the right left to right.
        for (const auto &[name, top] : {std::pair{"Command1", false}, {"txtMessage_9", false}, {"Frame4", true}}) {
            for (auto *bar : m_window->findChildren<QScrollBar *>())
                bar->setValue(bar->orientation() == Qt::Vertical && top ? bar->minimum() : bar->maximum());
            QWidget *widget = control(name);
            const QPoint point = widget->mapTo(
                m_window.get(),
                QPoint(direction == Qt::LeftToRight ? widget->width() - 3 : 2, top ? 2 : widget->height() / 2));
            QVERIFY2(m_window->childAt(point) == widget, name);
            QTest::mouseClick(m_window->windowHandle(), Qt::LeftButton, {}, point);
        }
        QCOMPARE(readFile(m_dir->filePath("ORNIVEX_CONFIG.txt")), kInitialFile);
        QCOMPARE(m_window->focusWidget(), control("txtMessage_9"));

        // Tab scrolls each control it reaches into sight, its near end at least.
        QWidget *focused = m_window->focusWidget();
        do {
            QTest::keyClick(focused, Qt::Key_Tab);
            focused = m_window->focusWidget();
            const QPoint nearEnd(direction == Qt::LeftToRight ? 2 : focused->width() - 3, focused->height() / 2);
            QVERIFY2(m_window->childAt(focused->mapTo(m_window.get(), nearEnd)) == focused,
                     qPrintable(focused->objectName() + " is out of sight"));
        } while (focused != control("txtMessage_9"));

        m_window->resize(m_window->size() * 2);
        QCOMPARE(geometries(*m_window), placed);
    }

    // Run once as built and once from a program file deleted after the start
    // (from_deleted_program.sh), where the program's folder is unknown.
    void commandNamesTheFileItWrites()
    {
        const bool programDeleted = QFileInfo("/proc/self/exe").symLinkTarget().endsWith(" (deleted)");
        const QString expected = programDeleted
            ? "Writes ORNIVEX_CONFIG.txt into this program's folder, which is unknown"
            : "Writes " + QCoreApplication::applicationDirPath() + "/ORNIVEX_CONFIG.txt";
        auto *command = control("Command1");
        QCOMPARE(command->toolTip(), expected);
        QCOMPARE(QAccessible::queryAccessibleInterface(command)->text(QAccessible::Description), expected);
    }

    void tabVisitsTheControlsInOrder()
    {
        m_window->show();
        QVERIFY(QTest::qWaitForWindowActive(m_window.get()));
        QStringList expected; // focus starts on chkWeapon_0 and comes back to it
        for (const auto &[array, count] :
             {std::pair{"chkWeapon", 14}, {"chkGrenade", 5}, {"txtMessage", 10}, {"chkSettings", 6}})
            for (int i = 0; i < count; ++i)
                expected << name(array, i);
        expected << QStringList{"txtFrequency", "Command1", "chkWeapon_0"};
        QStringList visited{QApplication::focusWidget()->objectName()};
        while (visited.size() < expected.size()) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            visited << QApplication::focusWidget()->objectName();
        }
        QCOMPARE(visited, expected);
    }

    void commandWritesTheInitialStateAndThenTheEdits()
    {
        const QString file = m_dir->filePath("ORNIVEX_CONFIG.txt");
        QTest::mouseClick(control("Command1"), Qt::LeftButton);
        QCOMPARE(readFile(file), kInitialFile);
        editWindow();
        QTest::mouseClick(control("Command1"), Qt::LeftButton);
        QCOMPARE(readFile(file), kEditedFile);

        auto *box = control<QCheckBox>("chkWeapon_4");
        box->setTristate(true);
        box->setCheckState(Qt::PartiallyChecked);
        QVERIFY(!m_window->gatherSnapshot().flag(FlagGroup::WeaponBan, 4));
    }

    // A failed press shows the report and keeps every edit for the retry.
    void failedWriteIsReportedAndTheWindowStays()
    {
        editWindow();
        const QString target = m_dir->filePath("ORNIVEX_CONFIG.txt");
        QVERIFY(QDir(m_dir->path()).mkdir("ORNIVEX_CONFIG.txt")); // stands in the file's way
        const ConfigSnapshot before = m_window->gatherSnapshot();
        QString details;
        const QString report = answerModalBox([this] { QTest::mouseClick(control("Command1"), Qt::LeftButton); },
                                              [&](QMessageBox &box) { details = box.informativeText(); });
        QCOMPARE(report, "Error 21: Cannot write " + target + ": Is a directory");
        QVERIFY(details.endsWith("The file was not changed. Your settings are still in the window: fix the cause and "
                                 "create the file again."));
        const ConfigSnapshot after = m_window->gatherSnapshot();
        QVERIFY(after.flags == before.flags && after.frequency == before.frequency
                && after.messages == before.messages);

        QVERIFY(QDir(m_dir->path()).rmdir("ORNIVEX_CONFIG.txt"));
        QTest::mouseClick(control("Command1"), Qt::LeftButton);
        QCOMPARE(readFile(target), kEditedFile);
    }

    // The box's text is the report's first line, its details the rest, each
    // shown as written: a path or advice that looks like HTML stays as named.
    void reportShowsTheWholeReport()
    {
        const ConfigWriteError error(13, u"/srv/<b>x</b>/<a href=\"x\">y</a>", u"Permission denied",
                                     u"Ask root to make <i>/srv/<b>x</b></i> writable for you.");
        const QStringList report = QString::fromStdU16String(error.report()).split("\n\n");
        QStringList shownAsMarkup;
        const QString text = answerModalBox([&] { ErrorReport::runCommand(m_window.get(), [&] { throw error; }); },
                                            [&](QMessageBox &box) {
                                                QCOMPARE(box.windowTitle(), "ORNIVEX_CONFIG - Error");
                                                QCOMPARE(box.informativeText(), report.mid(1).join("\n\n"));
                                                for (QLabel *label : box.findChildren<QLabel *>()) {
                                                    if (!label->text().isEmpty()
                                                        && label->textFormat() != Qt::PlainText)
                                                        shownAsMarkup << label->text();
                                                }
                                            });
        QCOMPARE(text, "Error 13: Cannot write /srv/<b>x</b>/<a href=\"x\">y</a>: Permission denied");
        QCOMPARE(report.size(), 3); // the advice, then "The file was not changed." and what to do
        QCOMPARE(shownAsMarkup, QStringList());
    }

    void successShowsNothing_data()
    {
        QTest::addColumn<QString>("folderName");
        QTest::newRow("short") << "a";
        QTest::newRow("named like HTML") << "<b>x<i> &lt;";
    }

    // A successful press writes the file and changes nothing in the window:
    // the focus stays on the button, nothing moves, every pixel is as before
    // and screen readers are told nothing; only the button's tooltip names
    // the file, found anew at the press.
    void successShowsNothing()
    {
        QFETCH(QString, folderName);
        const bool screenReaderBus = QGuiApplication::platformName() != "offscreen";
        if (screenReaderBus)
            QTRY_VERIFY_WITH_TIMEOUT(QAccessible::isActive(), 20000); // once the bridge has found the bus
        const QString folder = m_dir->filePath(folderName);
        QVERIFY(QDir(m_dir->path()).mkdir(folderName));
        m_window->setOutputDirectory(QFile::encodeName(folder).toStdString());
        m_window->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_window.get())); // X without a window manager activates none
        auto *command = control("Command1");
        command->setFocus();
        const QImage before = m_window->grab().toImage();
        g_told.clear();

        QTest::keyClick(command, Qt::Key_Space);

        const QString written = folder + "/ORNIVEX_CONFIG.txt";
        QCOMPARE(readFile(written), kInitialFile);
        QCOMPARE(shownText(command->toolTip()), "Writes " + written);
        QCOMPARE(m_window->focusWidget(), command);
        QVERIFY(m_window->grab().toImage() == before);
        QVERIFY2(!screenReaderBus || !g_told.isEmpty(), "the button's own press went unheard");
        for (const Told &event : std::as_const(g_told))
            QVERIFY2(event.object == command, qPrintable(event.name));
    }

    void pasteBecomesOneLine_data()
    {
        QTest::addColumn<QString>("way");
        for (const char *way : {"Ctrl+V", "Shift+Ins", "context menu", "middle button", "Ctrl+Shift+Ins", "drop"})
            QTest::newRow(way) << QString(way);
    }

    // Whichever way a text reaches a box, it arrives as the file will hold
    // it, each line break one space, and one undo takes it away again. The
    // rows that paste X11's selection run under X (main_window_screen_reader).
    void pasteBecomesOneLine()
    {
        QFETCH(QString, way);
        const QString pasted = "line one\nline two\r\nthree";
        auto *box = control<QLineEdit>("txtMessage_7");
        QClipboard *clipboard = QGuiApplication::clipboard();
        const bool selection = way == "middle button" || way == "Ctrl+Shift+Ins"; // X11's selection
        if (selection && !clipboard->supportsSelection())
            QSKIP("this platform has no X11 selection to paste");
        clipboard->clear();
        clipboard->setText(pasted, selection ? QClipboard::Selection : QClipboard::Clipboard);
        if (way == "context menu") {
            QContextMenuEvent event(QContextMenuEvent::Keyboard, QPoint(2, 2), box->mapToGlobal(QPoint(2, 2)));
            QApplication::sendEvent(box, &event);
            auto *menu = qobject_cast<QMenu *>(QApplication::activePopupWidget());
            QVERIFY(menu != nullptr);
            for (QAction *action : menu->actions())
                if (action->text().startsWith(QLineEdit::tr("&Paste")))
                    action->trigger();
            menu->close();
        } else if (way == "drop") {
            QMimeData dragged;
            dragged.setText(pasted);
            QDragEnterEvent enter(QPoint(2, 2), Qt::CopyAction, &dragged, Qt::LeftButton, Qt::NoModifier);
            QDropEvent drop(QPointF(2, 2), Qt::CopyAction, &dragged, Qt::LeftButton, Qt::NoModifier);
            QApplication::sendEvent(box, &enter);
            QApplication::sendEvent(box, &drop);
        } else if (way == "middle button") {
            QTest::mouseClick(box, Qt::MiddleButton);
        } else {
            QTest::keySequence(box, QKeySequence(way));
        }
        QCOMPARE(box->text(), "line one line two three");
        QCOMPARE(box->cursorPosition(), box->text().size());
        QTest::mouseClick(control("Command1"), Qt::LeftButton);
        QVERIFY(readFile(m_dir->filePath("ORNIVEX_CONFIG.txt")).contains("\r\n<7>line one line two three\r\n"));
        QTest::keyClick(box, Qt::Key_Z, Qt::ControlModifier);
        QCOMPARE(box->text(), QString());
    }

    void enterPressesOnlyTheFocusedCommand_data()
    {
        QTest::addColumn<QString>("focused");
        QTest::addColumn<QKeySequence>("keys");
        QTest::addColumn<bool>("writes");
        const QKeySequence enter(Qt::Key_Return);
        const QKeySequence keypadEnter(Qt::KeypadModifier | Qt::Key_Enter);
        QTest::newRow("Enter on the command") << "Command1" << enter << true;
        QTest::newRow("keypad Enter on the command") << "Command1" << keypadEnter << true;
        QTest::newRow("Ctrl+Enter on the command") << "Command1" << QKeySequence(Qt::CTRL | Qt::Key_Return) << false;
        QTest::newRow("Enter in a message") << "txtMessage_0" << enter << false;
        QTest::newRow("keypad Enter in the frequency") << "txtFrequency" << keypadEnter << false;
        QTest::newRow("Enter on a check box") << "chkWeapon_0" << enter << false;
    }

    void enterPressesOnlyTheFocusedCommand()
    {
        QFETCH(QString, focused);
        QFETCH(QKeySequence, keys);
        QFETCH(bool, writes);
        m_window->show();
        QVERIFY(QTest::qWaitForWindowActive(m_window.get()));
        control(focused)->setFocus();
        const ConfigSnapshot before = m_window->gatherSnapshot();
        QTest::keySequence(QApplication::focusWidget(), keys);
        QCOMPARE(QFile::exists(m_dir->filePath("ORNIVEX_CONFIG.txt")), writes);
        QCOMPARE(m_window->gatherSnapshot().flags, before.flags);
        QCOMPARE(QApplication::focusWidget(), control(focused));
    }

    // Many presses on one window: each leaves the complete file, and no file
    // descriptor or temporary file is left behind by any of them.
    void tenThousandPressesLeakNothing()
    {
        const QDir dir(m_dir->path());
        const QString file = dir.filePath("ORNIVEX_CONFIG.txt");
        const auto openDescriptors = [] {
            return QDir("/proc/self/fd").entryList(QDir::AllEntries | QDir::NoDotAndDotDot).size();
        };
        const QString failure = answerModalBox([&] {
            QByteArray expected;
            qsizetype descriptorsAfterFirstPress = 0;
            for (int press = 0; press < 10000; ++press) {
                if (press % 100 == 0) {
                    const QString text = QStringLiteral("round %1").arg(press / 100);
                    control<QLineEdit>("txtMessage_6")->setText(text);
                    expected = QByteArray(kInitialFile).replace("<6>\r\n", "<6>" + text.toLatin1() + "\r\n");
                }
                QTest::mouseClick(control("Command1"), Qt::LeftButton);
                QCOMPARE(readFile(file), expected);
                if (press == 0)
                    descriptorsAfterFirstPress = openDescriptors();
            }
            // Qt may close files of its own (fonts) later, never open more.
            QVERIFY(openDescriptors() <= descriptorsAfterFirstPress);
        });
        QCOMPARE(failure, QString());
        QCOMPARE(dir.entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot),
                 QStringList{"ORNIVEX_CONFIG.txt"});
    }

private:
    template <typename T = QWidget>
    T *control(const QString &objectName) const
    {
        auto *widget = m_window->findChild<T *>(objectName);
        if (!widget)
            qFatal("no control %s", qPrintable(objectName));
        return widget;
    }

    // Where every named control stands in its container.
    static QHash<QString, QRect> geometries(const Form1 &window)
    {
        QHash<QString, QRect> placed;
        for (QWidget *widget : window.findChildren<QWidget *>()) {
            const QString name = widget->objectName();
            if (!name.isEmpty() && !name.startsWith("qt_") && name != "canvas")
                placed.insert(name, widget->geometry());
        }
        return placed;
    }

    void editWindow()
    {
        QTest::mouseClick(control("chkWeapon_0"), Qt::LeftButton);
        QTest::keyClick(control("chkWeapon_4"), Qt::Key_Space);
        QTest::mouseClick(control("chkGrenade_3"), Qt::LeftButton);
        QTest::mouseClick(control("chkSettings_0"), Qt::LeftButton);
        control<QLineEdit>("txtFrequency")->selectAll();
        QTest::keyClicks(control("txtFrequency"), " 12");
        QTest::keyClicks(control("txtMessage_6"), "restart at 6pm");
    }

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<Form1> m_window;
};

QTEST_MAIN(MainWindowTest)
#include "main_window_test.moc"
