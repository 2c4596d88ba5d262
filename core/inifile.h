// SPDX-License-Identifier: MIT
#pragma once

// Reads and writes single values of an INI file the way operators expect
// when they edit it by hand: comments, blank lines and other keys stay byte
// for byte, names match without regard to case, and anything missing reads
// as "". (QSettings rewrites the whole file and reads commas as lists.)

#include "core/result.h"

#include <QString>
#include <QtGlobal>

// A settings file is a few lines; one far bigger was grown by someone (a
// sparse file of a gigabyte takes one command) and is neither read nor
// rewritten.
constexpr qint64 MaxIniFileSize = 64 * 1024;

// The value of `key` in `section`, at most 254 characters; "" when the file,
// section or key is missing or the value is empty. A failure says why an
// existing file was not read (not a regular file, another user's link on its
// way, unreadable, bigger than MaxIniFileSize).
Result<QString> ReadIniString(const QString& section, const QString& key, const QString& file);

// Replaces the key's value in place, adds the key at the end of its section,
// or appends the section, creating the file when missing. Fails when the
// file could not be read or written, or would grow over MaxIniFileSize; the
// file is then unchanged.
Result<void> WriteIniString(
    const QString& section, const QString& key, const QString& value, const QString& file);
