#include "config_write_error.h"

#include "unicode_text.h"

namespace ornivex {

ConfigWriteError::ConfigWriteError(int number, std::u16string path, std::u16string systemText, std::u16string advice,
                                   bool fileChanged)
    : std::runtime_error(toUtf8(u"Cannot write " + path + u": " + systemText))
    , m_number(number)
    , m_path(std::move(path))
    , m_systemText(std::move(systemText))
    , m_advice(std::move(advice))
    , m_fileChanged(fileChanged)
{
}

std::u16string ConfigWriteError::description() const
{
    return u"Cannot write " + m_path + u": " + m_systemText;
}

std::u16string ConfigWriteError::report() const
{
    std::u16string text = u"Error " + fromAscii(std::to_string(m_number)) + u": " + description() + u"\n\n";
    if (!m_advice.empty())
        text += m_advice + u"\n\n";
    if (!m_fileChanged)
        text += u"The file was not changed. ";
    return text + u"Your settings are still in the window: fix the cause and create the file again.";
}

} // namespace ornivex
