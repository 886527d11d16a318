#pragma once

#include <QByteArray>
#include <QChar>
#include <QString>

// The single-byte code page in which the program's text files, post data and
// HTTP bodies are written: Windows-1252 as Windows maps it, with the five bytes
// that code page leaves unassigned (0x81, 0x8D, 0x8F, 0x90, 0x9D) mapped to the
// control characters of the same value, so that bytes -> text -> bytes is exact
// for every byte. Characters outside the code page become '?', one per UTF-16
// code unit.
namespace codepage {

inline constexpr int substituteCode = 0x3F; // '?'

// One byte per UTF-16 code unit.
QByteArray toAnsi(const QString& text);
// One character per byte.
QString fromAnsi(const QByteArray& bytes);

// The byte value (0..255) of a character; substituteCode when the code page lacks it.
int ansiCode(QChar c);
// The character a byte stands for; only the low eight bits of byte are used.
QChar fromAnsiCode(int byte);

} // namespace codepage
