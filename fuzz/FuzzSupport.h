#pragma once

#include "CodePage.h"

#include <QByteArray>
#include <QString>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

// A property that does not hold is a finding like a crash: report it and abort,
// so that libFuzzer keeps the input as a crash file.
#define FUZZ_CHECK(condition)                                                                                \
    do {                                                                                                     \
        if (!(condition)) {                                                                                  \
            std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #condition);               \
            std::abort();                                                                                    \
        }                                                                                                    \
    } while (false)

namespace fuzz {

inline QByteArray bytes(const std::uint8_t* data, std::size_t size)
{
    return QByteArray(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
}

// One character per byte, as the program reads its text files and the service's answers.
inline QString codePageText(const std::uint8_t* data, std::size_t size)
{
    return codepage::fromAnsi(bytes(data, size));
}

// Every pair of bytes as one UTF-16 code unit, so that characters outside the
// code page and lone surrogates come in too; an odd last byte is dropped.
inline QString utf16Text(const std::uint8_t* data, std::size_t size)
{
    QString text(static_cast<qsizetype>(size / 2), Qt::Uninitialized);
    std::memcpy(text.data(), data, (size / 2) * sizeof(char16_t));
    return text;
}

} // namespace fuzz
