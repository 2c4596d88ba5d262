// SPDX-License-Identifier: MIT
#pragma once

// The main window's share of each logged reading, recorded: the log view
// lines in order and the count of records handed over for the file.

#include "core/module1.h"

#include <QStringList>

class RecordingLog : public ReadingLog
{
public:
    void appendLogLine(const QString& line) override { viewLines.append(line); }
    void WriteLogRecord() override { ++records; }

    QStringList viewLines;
    int records = 0;
};
