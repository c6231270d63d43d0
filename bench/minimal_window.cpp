// The floor for starting ORNIVEX Config: a Qt Widgets window holding one
// control of each kind the program shows, placed by hand as the program
// places its own.

#include <QApplication>
#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QWidget window;
    window.setWindowTitle(QStringLiteral("Minimal window"));

    auto *frame = new QGroupBox(QStringLiteral("Group box"), &window);
    frame->setGeometry(8, 8, 224, 120);
    auto *checkBox = new QCheckBox(QStringLiteral("Check box"), frame);
    checkBox->setGeometry(8, 24, 208, 20);
    auto *lineEdit = new QLineEdit(QStringLiteral("Line edit"), frame);
    lineEdit->setGeometry(8, 52, 208, 24);
    auto *label = new QLabel(QStringLiteral("Label"), frame);
    label->setGeometry(8, 84, 208, 20);
    auto *button = new QPushButton(QStringLiteral("Push button"), &window);
    button->setGeometry(120, 136, 112, 28);

    window.resize(240, 172);
    window.show();
    return QApplication::exec();
}
