#pragma once

#include <QApplication>

#include <memory>

namespace ornivex {

// Builds the application object. When no display can be opened (none is set,
// the one named does not answer or refuses this user, or Qt lacks the
// platform plugin asked for), prints one sentence that names the cause and
// ends the program with status 1, instead of Qt's abort after its
// diagnostics.
std::unique_ptr<QApplication> startApplication(int &argc, char **argv);

} // namespace ornivex
