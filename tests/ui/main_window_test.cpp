#include "main_window.h"

#include <QApplication>
#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>
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

QString name(const char *array, int index)
{
    return QLatin1String(array) + '_' + QString::number(index);
}

// Runs an action that opens a modal message box; returns the box's text after
// pressing its OK button, or an empty text if no box appeared.
QString answerModalBox(const std::function<void()> &action)
{
    QString text;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget())) {
            poll.stop();
            text = box->text();
            box->button(QMessageBox::Ok)->click();
        }
    });
    poll.start(10);
    action();
    return text;
}

} // namespace

class MainWindowTest : public QObject {
    Q_OBJECT

private slots:
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
        QCOMPARE(Form1().outputDirectory(), QFile::encodeName(QCoreApplication::applicationDirPath()).toStdString());
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

    void controlsStandWhereTheLayoutSays_data()
    {
        QTest::addColumn<QString>("parent");
        QTest::addColumn<QRect>("twips");
        const auto row = [](const QString &control, const char *parent, QRect twips) {
            QTest::newRow(qPrintable(control)) << QString::fromLatin1(parent) << twips;
        };
        row("Frame1", "Form1", {60, 60, 3795, 2535});
        row("Frame2", "Form1", {3960, 60, 1755, 2535});
        row("Frame3", "Form1", {60, 2640, 8115, 3375});
        row("Frame4", "Form1", {5820, 60, 2355, 2535});
        for (int i = 0; i < 14; ++i) {
            const int width = i == 2 ? 1755 : i == 10 ? 1575 : 1335;
            row(name("chkWeapon", i), "Frame1", {i < 7 ? 120 : 1980, 300 + 300 * (i % 7), width, 255});
        }
        for (int i = 0; i < 5; ++i)
            row(name("chkGrenade", i), "Frame2", {120, 300 + 300 * i, i == 1 || i == 4 ? 1575 : 1455, 255});
        for (int i = 0; i < 10; ++i)
            row(name("txtMessage", i), "Frame3", {60, 240 + 300 * i, 7935, 285});
        for (int i = 0; i < 6; ++i)
            row(name("chkSettings", i), "Frame4", {120, 300 + 300 * i, i == 5 ? 1995 : 2055, 255});
        row("txtFrequency", "Frame4", {1860, 2100, 375, 285});
        row("Label1", "Frame4", {120, 2160, 1635, 255});
        row("Command1", "Form1", {6660, 6120, 1515, 315});
    }

    void controlsStandWhereTheLayoutSays()
    {
        QFETCH(QString, parent);
        QFETCH(QRect, twips);
        QWidget *widget = control(QTest::currentDataTag());
        QCOMPARE(widget->parentWidget()->objectName(), parent);
        const double scale = m_window->pixelsPerTwip();
        QVERIFY(scale >= 1.0 / 15);
        const QRect actual = widget->geometry();
        const QRectF expected(twips.x() * scale, twips.y() * scale, twips.width() * scale, twips.height() * scale);
        QVERIFY2(std::abs(actual.x() - expected.x()) <= 1 && std::abs(actual.y() - expected.y()) <= 1
                     && std::abs(actual.width() - expected.width()) <= 1
                     && std::abs(actual.height() - expected.height()) <= 1,
                 qPrintable(
                     QString("%1,%2 %3x%4").arg(actual.x()).arg(actual.y()).arg(actual.width()).arg(actual.height())));
        QCOMPARE(m_window->size(), QSize(qRound(8265 * scale), qRound(6510 * scale)));
        m_window->resize(m_window->size() * 2);
        QCOMPARE(widget->geometry(), actual); // resizing moves nothing
    }

    void everyCaptionFitsAndNothingOverlaps()
    {
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

    void failedWriteIsReportedAndTheWindowStays()
    {
        editWindow();
        const QString target = m_dir->filePath("ORNIVEX_CONFIG.txt");
        QVERIFY(QDir(m_dir->path()).mkdir("ORNIVEX_CONFIG.txt")); // stands in the file's way
        const ConfigSnapshot before = m_window->gatherSnapshot();
        const QString report = answerModalBox([this] { QTest::mouseClick(control("Command1"), Qt::LeftButton); });
        QCOMPARE(report, "Error 21: Cannot write " + target + ": Is a directory");
        const ConfigSnapshot after = m_window->gatherSnapshot();
        QVERIFY(after.flags == before.flags && after.frequency == before.frequency
                && after.messages == before.messages);

        QVERIFY(QDir(m_dir->path()).rmdir("ORNIVEX_CONFIG.txt"));
        QTest::mouseClick(control("Command1"), Qt::LeftButton);
        QCOMPARE(readFile(target), kEditedFile);
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
            QCOMPARE(openDescriptors(), descriptorsAfterFirstPress);
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
