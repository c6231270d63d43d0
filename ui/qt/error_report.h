#pragma once

#include <functional>

class QWidget;

namespace ornivex {

class ConfigWriteError;

// The program's one place that deals with errors: a command from the event
// loop runs through here, and whatever it throws is shown in a modal box with
// its number and description instead of escaping into Qt. Afterwards the
// window carries on unchanged, so the operator can fix the cause and retry.
class ErrorReport {
public:
    static void runCommand(QWidget *window, const std::function<void()> &command);

private:
    static void show(QWidget *window, const ConfigWriteError &error);
};

} // namespace ornivex
