#pragma once

#include <stdexcept>
#include <string>

namespace ornivex {

// A failed write, as the report shows it: the system's error number (errno,
// or GetLastError() on Windows), the path that failed as the system shows
// it, the system's own text for the error and, where the cause is known,
// what the operator can do about it. Most failures leave the earlier file as
// it was; one that changed bytes of it says so (fileChanged), and its advice
// says what the file now holds.
class ConfigWriteError : public std::runtime_error {
public:
    ConfigWriteError(int number, std::u16string path, std::u16string systemText, std::u16string advice = {},
                     bool fileChanged = false);

    int number() const noexcept { return m_number; }
    const std::u16string &path() const noexcept { return m_path; }
    const std::u16string &systemText() const noexcept { return m_systemText; }
    const std::u16string &advice() const noexcept { return m_advice; }
    bool fileChanged() const noexcept { return m_fileChanged; }

    // "Cannot write <path>: <system text>"; what() gives the same in UTF-8.
    std::u16string description() const;

    // The whole text of the report box, the same in every window: first
    // "Error <number>: <description>", then the advice, then whether the
    // file was changed, and that the settings are still in the window.
    std::u16string report() const;

private:
    int m_number;
    std::u16string m_path;
    std::u16string m_systemText;
    std::u16string m_advice;
    bool m_fileChanged;
};

} // namespace ornivex
