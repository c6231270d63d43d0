#include "main_window.h"

#include <QApplication>
#include <QCheckBox>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QStyleOptionGroupBox>
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

template <typename T = QWidget>
T *control(QWidget &window, const QString &name)
{
    auto *widget = window.findChild<T *>(name);
    if (!widget)
        qFatal("no control %s", qPrintable(name));
    return widget;
}

// Waits for the next modal message box, keeps its text and presses OK, so that
// a test can check the report without blocking on it.
class ModalBoxAnswerer : public QObject {
public:
    ModalBoxAnswerer()
    {
        connect(&m_poll, &QTimer::timeout, this, [this] {
            auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
            if (!box)
                return;
            m_poll.stop();
            text = box->text();
            box->button(QMessageBox::Ok)->click();
        });
        m_poll.start(10);
    }
    QString text;

private:
    QTimer m_poll;
};

QString expectedAfterEdits(QByteArray file)
{
    file.replace("shotgun=0", "shotgun=1").replace("smartgun=1", "smartgun=0");
    file.replace("emp=0", "emp=1").replace("useIPBan=0", "useIPBan=1");
    file.replace("messagefrequency=2", "messagefrequency= 12");
    file.replace("<6>\r\n", "<6>restart at 6pm\r\n");
    return QString::fromLatin1(file);
}

} // namespace

class MainWindowTest : public QObject {
    Q_OBJECT

private slots:
    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        m_window = std::make_unique<Form1>();
        m_window->setOutputDirectory(m_dir->path());
    }
    void cleanup()
    {
        m_window.reset();
        m_dir.reset();
    }

    void startsInTheCatalogueState()
    {
        Form1 &w = *m_window;
        QCOMPARE(w.windowTitle(), "ORNIVEX_CONFIG");
        QCOMPARE(w.outputDirectory(), m_dir->path());
        QCOMPARE(Form1().outputDirectory(), QCoreApplication::applicationDirPath());
        for (const FlagGroupInfo &group : OptionCatalogue::groups()) {
            for (const FlagEntry &entry : group.entries) {
                const QString name = QLatin1String(group.checkBoxArrayName) + '_' + QString::number(entry.index);
                auto *box = control<QCheckBox>(w, name);
                QCOMPARE(box->text(), QLatin1String(entry.caption));
                QCOMPARE(box->checkState(), entry.initiallyChecked ? Qt::Checked : Qt::Unchecked);
                QVERIFY(!box->isTristate());
            }
        }
        for (int i = 0; i < OptionCatalogue::kMessageCount; ++i) {
            auto *edit = control<QLineEdit>(w, "txtMessage_" + QString::number(i));
            QCOMPARE(edit->text(), QLatin1String(OptionCatalogue::messageInitialText(i)));
            QCOMPARE(edit->accessibleName(), "Message " + QString::number(i));
        }
        QCOMPARE(control<QLineEdit>(w, "txtFrequency")->text(), "2");
        QCOMPARE(control<QLabel>(w, "Label1")->buddy(), control(w, "txtFrequency"));
        auto *button = control<QPushButton>(w, "Command1");
        QCOMPARE(button->text(), "Create Config File");
        QVERIFY(!button->isDefault() && !button->autoDefault());
        QCOMPARE(w.gatherSnapshot().flags, ConfigSnapshot::initial().flags);

        // No length limit of its own: well past QLineEdit's default of 32767.
        auto *message = control<QLineEdit>(w, "txtMessage_9");
        message->setText(QString(100000, u'x'));
        QCOMPARE(message->text().size(), 100000);
    }

    void controlsStandWhereTheLayoutSays_data()
    {
        QTest::addColumn<QString>("parentName");
        QTest::addColumn<QRect>("twips");
        const auto row = [](const QString &name, const char *parent, QRect twips) {
            QTest::newRow(qPrintable(name)) << QString::fromLatin1(parent) << twips;
        };
        row("Frame1", "Form1", {60, 60, 3795, 2535});
        row("Frame2", "Form1", {3960, 60, 1755, 2535});
        row("Frame3", "Form1", {60, 2640, 8115, 3375});
        row("Frame4", "Form1", {5820, 60, 2355, 2535});
        for (int i = 0; i < 14; ++i)
            row("chkWeapon_" + QString::number(i), "Frame1",
                {i < 7 ? 120 : 1980, 300 + 300 * (i % 7), i == 2 ? 1755 : i == 10 ? 1575 : 1335, 255});
        for (int i = 0; i < 5; ++i)
            row("chkGrenade_" + QString::number(i), "Frame2", {120, 300 + 300 * i, i == 1 || i == 4 ? 1575 : 1455, 255});
        for (int i = 0; i < 10; ++i)
            row("txtMessage_" + QString::number(i), "Frame3", {60, 240 + 300 * i, 7935, 285});
        for (int i = 0; i < 6; ++i)
            row("chkSettings_" + QString::number(i), "Frame4", {120, 300 + 300 * i, i == 5 ? 1995 : 2055, 255});
        row("txtFrequency", "Frame4", {1860, 2100, 375, 285});
        row("Label1", "Frame4", {120, 2160, 1635, 255});
        row("Command1", "Form1", {6660, 6120, 1515, 315});
    }

    void controlsStandWhereTheLayoutSays()
    {
        QFETCH(QString, parentName);
        QFETCH(QRect, twips);
        Form1 &w = *m_window;
        QWidget *widget = control(w, QTest::currentDataTag());
        QCOMPARE(widget->parentWidget()->objectName(), parentName);

        const double scale = w.pixelsPerTwip();
        QVERIFY(scale >= 1.0 / 15);
        const QRectF expected(twips.x() * scale, twips.y() * scale, twips.width() * scale, twips.height() * scale);
        const QRect actual = widget->geometry();
        QVERIFY2(std::abs(actual.x() - expected.x()) <= 1 && std::abs(actual.y() - expected.y()) <= 1
                     && std::abs(actual.width() - expected.width()) <= 1
                     && std::abs(actual.height() - expected.height()) <= 1,
                 qPrintable(QString("at %1,%2 %3x%4").arg(actual.x()).arg(actual.y()).arg(actual.width()).arg(actual.height())));
        QCOMPARE(w.size(), QSize(qRound(8265 * scale), qRound(6510 * scale)));

        // Resizing the window moves nothing.
        w.resize(w.size() * 2);
        QCOMPARE(widget->geometry(), actual);
    }

    void everyCaptionFitsAndNothingOverlaps()
    {
        Form1 &w = *m_window;
        for (auto *frame : w.findChildren<QGroupBox *>()) {
            QStyleOptionGroupBox option;
            option.initFrom(frame);
            option.text = frame->title();
            option.subControls = QStyle::SC_GroupBoxLabel | QStyle::SC_GroupBoxFrame;
            const QRect title = frame->style()->subControlRect(QStyle::CC_GroupBox, &option, QStyle::SC_GroupBoxLabel, frame);
            QVERIFY2(frame->rect().contains(title), qPrintable(frame->objectName()));
            const QList<QWidget *> children = frame->findChildren<QWidget *>(Qt::FindDirectChildrenOnly);
            for (QWidget *child : children) {
                const QString name = child->objectName();
                QVERIFY2(child->geometry().top() > title.bottom(), qPrintable(name + " overlaps the frame's caption"));
                QVERIFY2(frame->rect().adjusted(2, 2, -2, -2).contains(child->geometry()), qPrintable(name + " leaves its frame"));
                if (!qobject_cast<QLineEdit *>(child))
                    QVERIFY2(child->sizeHint().width() <= child->width(), qPrintable(name + " clips its caption"));
                QVERIFY2(child->sizeHint().height() <= child->height() || qobject_cast<QLineEdit *>(child),
                         qPrintable(name + " is too low for its caption"));
                for (QWidget *other : children)
                    QVERIFY2(other == child || !other->geometry().intersects(child->geometry()),
                             qPrintable(name + " overlaps " + other->objectName()));
            }
        }
        auto *button = control<QPushButton>(w, "Command1");
        QVERIFY(button->sizeHint().width() <= button->width());
        QVERIFY(!button->geometry().intersects(control(w, "Frame3")->geometry()));
    }

    void tabVisitsTheControlsInOrder()
    {
        Form1 &w = *m_window;
        w.show();
        QVERIFY(QTest::qWaitForWindowActive(&w));
        QCOMPARE(QApplication::focusWidget()->objectName(), "chkWeapon_0");

        QStringList expected;
        for (int i = 1; i < 14; ++i)
            expected << "chkWeapon_" + QString::number(i);
        for (int i = 0; i < 5; ++i)
            expected << "chkGrenade_" + QString::number(i);
        for (int i = 0; i < 10; ++i)
            expected << "txtMessage_" + QString::number(i);
        for (int i = 0; i < 6; ++i)
            expected << "chkSettings_" + QString::number(i);
        expected << "txtFrequency" << "Command1" << "chkWeapon_0" << "chkWeapon_1";

        QStringList visited;
        for (qsizetype i = 0; i < expected.size(); ++i) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            visited << QApplication::focusWidget()->objectName();
        }
        QCOMPARE(visited, expected);
    }

    void commandWritesTheInitialStateFile()
    {
        const QString file = m_dir->filePath("ORNIVEX_CONFIG.txt");
        QVERIFY(!QFile::exists(file));
        QTest::mouseClick(control(*m_window, "Command1"), Qt::LeftButton);
        QCOMPARE(readFile(file), kInitialFile);
        QTest::mouseClick(control(*m_window, "Command1"), Qt::LeftButton);
        QCOMPARE(readFile(file), kInitialFile);
        QCOMPARE(QDir(m_dir->path()).entryList(QDir::Files | QDir::Hidden), QStringList{"ORNIVEX_CONFIG.txt"});
    }

    void editsOfEveryKindReachTheFile()
    {
        editEveryKindOfControl();
        QTest::mouseClick(control(*m_window, "Command1"), Qt::LeftButton);
        QCOMPARE(QString::fromLatin1(readFile(m_dir->filePath("ORNIVEX_CONFIG.txt"))), expectedAfterEdits(kInitialFile));
    }

    void partiallyCheckedCountsAsUnchecked()
    {
        auto *box = control<QCheckBox>(*m_window, "chkWeapon_4");
        box->setTristate(true);
        box->setCheckState(Qt::PartiallyChecked);
        QVERIFY(!m_window->gatherSnapshot().flag(FlagGroup::WeaponBan, 4));
    }

    void failedWriteIsReportedAndTheWindowStays()
    {
        editEveryKindOfControl();
        const QString target = m_dir->filePath("ORNIVEX_CONFIG.txt");
        QVERIFY(QDir(m_dir->path()).mkdir("ORNIVEX_CONFIG.txt")); // stands in the file's way
        const ConfigSnapshot before = m_window->gatherSnapshot();

        {
            ModalBoxAnswerer answerer;
            QTest::mouseClick(control(*m_window, "Command1"), Qt::LeftButton);
            QCOMPARE(answerer.text, "Error 21: Cannot write " + target + ": Is a directory");
        }
        const ConfigSnapshot after = m_window->gatherSnapshot();
        QCOMPARE(after.flags, before.flags);
        QCOMPARE(after.frequency, before.frequency);
        QCOMPARE(after.messages, before.messages);

        // Once the way is clear, the same choices are written.
        QVERIFY(QDir(m_dir->path()).rmdir("ORNIVEX_CONFIG.txt"));
        QTest::mouseClick(control(*m_window, "Command1"), Qt::LeftButton);
        QCOMPARE(QString::fromLatin1(readFile(target)), expectedAfterEdits(kInitialFile));
    }

private:
    void editEveryKindOfControl()
    {
        Form1 &w = *m_window;
        QTest::mouseClick(control(w, "chkWeapon_0"), Qt::LeftButton);
        QTest::keyClick(control(w, "chkWeapon_4"), Qt::Key_Space);
        QTest::mouseClick(control(w, "chkGrenade_3"), Qt::LeftButton);
        QTest::mouseClick(control(w, "chkSettings_0"), Qt::LeftButton);
        auto *frequency = control<QLineEdit>(w, "txtFrequency");
        frequency->selectAll();
        QTest::keyClicks(frequency, " 12");
        QTest::keyClicks(control(w, "txtMessage_6"), "restart at 6pm");
    }

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<Form1> m_window;
};

QTEST_MAIN(MainWindowTest)
#include "main_window_test.moc"
