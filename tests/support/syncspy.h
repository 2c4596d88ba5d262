// SPDX-License-Identifier: MIT
#pragma once

// Every fsync and fdatasync the test process makes, by what it synced. A test
// executable that uses this has its own fsync and fdatasync, which stand in
// for the C library's in the core linked into it: they note the path of the
// descriptor and pass the call on.

#include <QStringList>

namespace syncspy {

// The paths synced since the last call, oldest first (a removed file's path
// ends in " (deleted)").
QStringList take();

} // namespace syncspy
