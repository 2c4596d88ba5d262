// SPDX-License-Identifier: MIT
#pragma once

// The record of every line the board received, one "MS LINE" record a line,
// written as the lines arrive so a test can read it while the board runs.

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

namespace boardsim {

class Transcript
{
public:
    Transcript() = default;
    ~Transcript();
    Transcript(const Transcript&) = delete;
    Transcript& operator=(const Transcript&) = delete;

    // Creates or empties `path`, a regular file of one name reached by no
    // other user's link; says why and returns false when it cannot.
    bool open(const QString& path);
    // Does nothing while no file is open.
    void write(QStringView line);

    // `line` stamped with the wall clock time in milliseconds since 1970 with
    // three decimals, e.g. "1733563200123.456 ?CTR3\n".
    static QByteArray record(qint64 microsecondsSinceEpoch, QByteArrayView line);

private:
    int m_fd = -1;
};

} // namespace boardsim
