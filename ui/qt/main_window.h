#pragma once

#include "config_file_writer.h"

#include <QWidget>

#include <filesystem>
#include <string_view>
#include <vector>

class QScrollBar;

namespace ornivex {

// The program's only window: one Qt control per entry of the form's table,
// and the "Create Config File" command that writes the file next to the
// executable.
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

protected:
    void resizeEvent(QResizeEvent *event) override;
    void wheelEvent(QWheelEvent *event) override;
    bool focusNextPrevChild(bool next) override;

private:
    QWidget *createControl(int position);
    QWidget *control(std::string_view objectName) const;
    void applyScale();
    void fitToScreen();
    void setTabOrder();

    void updateScrollBars();
    QRect view() const;
    void placeCanvas();
    void scrollIntoView(const QWidget &control);

    void createConfigFile();
    std::filesystem::path findOutputDirectory();
    void setCommandDescription(const QString &description);

    // One widget per entry of form::controls(), in the same order.
    std::vector<QWidget *> m_controls;
    // The controls stand on a canvas of the client area's size, which the
    // scroll bars move when the window is smaller. The bars and the corner
    // between them are made at the first need.
    QWidget *m_canvas = nullptr;
    QScrollBar *m_horizontalBar = nullptr;
    QScrollBar *m_verticalBar = nullptr;
    QWidget *m_barCorner = nullptr;
    double m_pixelsPerTwip = 1.0 / 15;
    std::filesystem::path m_outputDirectory; // empty: the program's folder
};

} // namespace ornivex
