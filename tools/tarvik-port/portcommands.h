// SPDX-License-Identifier: MIT
#pragma once

// The three commands, each writing what it has to say to `out` and why it
// failed to `err` (one line), and returning the exit status.

#include "portcommand.h"
#include "portsurvey.h"

#include <QTextStream>

namespace tarvikport {

int runList(const Setup& setup, QTextStream& out);
int runFind(const Setup& setup, const QStringList& devices, QTextStream& out, QTextStream& err);
int runUse(const Setup& setup, const CommandLine& command, QTextStream& out, QTextStream& err);

} // namespace tarvikport
