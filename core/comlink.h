// SPDX-License-Identifier: MIT
#pragma once

// The comN links in the data folder, each leading to a serial device: the
// operators' way of naming the board's port (ComPort=N opens comN). The
// folder is shared, so a link is made under a name of its own and renamed
// into place, and whatever else stands at comN (a file, a folder, a FIFO
// someone put there) is left alone.

#include "core/result.h"

#include <QList>
#include <QString>

namespace comlink {

struct Link
{
    int number = 0; // N of comN
    QString path; // <folder>/comN
    QString target; // what the link says, as written
};

// The links named com1 to com255 in `folder`, by number. Nothing on Windows,
// where ComPort names the COM port itself.
QList<Link> links(const QString& folder);

#ifndef Q_OS_WIN

// What place() replaced.
struct Placed
{
    bool hadLink = false; // a link stood at the name before
    QString previousTarget; // and said this
};

// Makes `linkPath` a symbolic link to `target`. Made under a temporary name
// in the same folder and put in place in one step, so that a program opening
// the name sees the old link or the new one, never none. An existing link is
// replaced; anything else at the name (a regular file, a folder, a FIFO) is
// refused and stays as it is, even when it appears while the link is made;
// the failure's reason is the system's or says what stands there.
Result<Placed> place(const QString& linkPath, const QString& target);

// Undoes a place() that succeeded with `placed`: puts back the link that
// stood there, or removes the new one when none did, provided the name still
// holds the link place() made.
void undo(const QString& linkPath, const QString& placedTarget, const Placed& placed);

#endif

} // namespace comlink
