// SPDX-License-Identifier: MIT
#pragma once

// The main window's save dialog and the current log file name. The name is
// kept when the operator cancels.

#include <QString>

class QWidget;

class CDB
{
public:
    QString FileName;
    // The dialog's form of "Comma Seperated File (*.csv)|*.csv".
    QString Filter;

    // Shows the modal save dialog; the chosen name replaces FileName.
    // Returns false when cancelled.
    bool ShowSave(QWidget* parent);
};
