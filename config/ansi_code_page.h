#pragma once

#include <QByteArray>
#include <QStringView>

namespace ornivex {

// Converts text to the 8-bit code page the server reads: Windows-1252.
// Every character the code page cannot hold, including one outside the Basic
// Multilingual Plane or a lone surrogate, becomes a single '?'.
QByteArray toAnsiCodePage(QStringView text);

} // namespace ornivex
