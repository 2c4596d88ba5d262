// SPDX-License-Identifier: MIT
#pragma once

// Reads and writes single values of an INI file the way operators expect
// when they edit it by hand: comments, blank lines and other keys stay byte
// for byte, names match without regard to case, and anything missing reads
// as "". (QSettings rewrites the whole file and reads commas as lists.)

#include <QString>

// The value of `key` in `section`, at most 254 characters; "" when the file,
// section or key is missing or the value is empty.
QString ReadIniString(const QString& section, const QString& key, const QString& file);

// Replaces the key's value in place, adds the key at the end of its section,
// or appends the section, creating the file when missing. Returns false when
// the file could not be written; the file is then unchanged.
bool WriteIniString(const QString& section, const QString& key, const QString& value,
                    const QString& file);
