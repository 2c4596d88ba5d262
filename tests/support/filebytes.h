// SPDX-License-Identifier: MIT
#pragma once

// A file's bytes, put and read back whole, for tests that compare files
// byte for byte. Header-only, so tests built for Windows can use it too.

#include <QByteArray>
#include <QFile>
#include <QString>

// Makes `path` hold exactly `content`; a null `content` leaves no file.
// Returns `path`, or an empty string when the file could not be written.
inline QString putFileBytes(const QString& path, const QByteArray& content)
{
    QFile::remove(path);
    if (content.isNull())
        return path;
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly) || f.write(content) != content.size())
        return {};
    return path;
}

// The file's bytes; empty when it is missing or unreadable.
inline QByteArray fileBytes(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}
