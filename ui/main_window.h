#pragma once

#include "config_file_writer.h"

#include <QWidget>

#include <array>
#include <filesystem>
#include <vector>

class QCheckBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace ornivex {

// A control's place in the window's fixed layout, in twips (1/1440 inch),
// measured from the top left of its container.
struct Twips {
    int left;
    int top;
    int width;
    int height;
};

// The program's only window: one control per catalogue item, and the
// "Create Config File" command that writes the file next to the executable.
class Form1 : public QWidget {
    Q_OBJECT

public:
    explicit Form1(QWidget *parent = nullptr);

    // Where the command writes: the program's folder, found anew at each
    // press, unless a folder is set here. Throws ConfigWriteError when the
    // program's folder cannot be found.
    void setOutputDirectory(std::filesystem::path directory) { m_outputDirectory = std::move(directory); }
    std::filesystem::path outputDirectory() const;

    // Pixels per twip: large enough that every caption fits in the toolkit's
    // default font, and never less than 96 dots per inch. The same in both
    // layout directions.
    double pixelsPerTwip() const { return m_pixelsPerTwip; }

    ConfigSnapshot gatherSnapshot() const;

private:
    QGroupBox *createWeaponFrame();
    QGroupBox *createGrenadeFrame();
    QGroupBox *createMessageFrame();
    QGroupBox *createSettingsFrame();
    QGroupBox *createFrame(const char *name, std::string_view caption, Twips twips);
    std::vector<QCheckBox *> createFlagBoxes(QGroupBox *frame, FlagGroup group, Twips (*place)(int));
    void place(QWidget *widget, Twips twips);
    void applyScale();
    void fitToScreen();
    void setTabOrder();

    void createConfigFile() const;

    QGroupBox *Frame1 = nullptr;
    QGroupBox *Frame2 = nullptr;
    QGroupBox *Frame3 = nullptr;
    QGroupBox *Frame4 = nullptr;
    std::vector<QCheckBox *> chkWeapon;
    std::vector<QCheckBox *> chkGrenade;
    std::vector<QCheckBox *> chkSettings;
    std::array<QLineEdit *, OptionCatalogue::kMessageCount> txtMessage{};
    QLineEdit *txtFrequency = nullptr;
    QLabel *Label1 = nullptr;
    QPushButton *Command1 = nullptr;

    // The controls stand on a canvas of the client area's size, which
    // scrolls when large text makes it larger than the screen.
    QWidget *m_canvas = nullptr;
    std::vector<std::pair<QWidget *, Twips>> m_placements;
    double m_pixelsPerTwip = 1.0 / 15;
    std::filesystem::path m_outputDirectory; // empty: the program's folder
};

} // namespace ornivex
