// SPDX-License-Identifier: MIT
#pragma once

// Ends the run cleanly when the system asks (SIGTERM at shutdown, SIGHUP at
// logout, SIGINT from a terminal): the same way as "Exit", so kept records
// are left in the journal for the next start (those in memory alone get a
// last write) and the serial port, with its lock file, is released. Killed outright, Qt's port lock would stay behind and lock
// other operators out of the board until the next reboot.

#include <QObject>

#include <functional>

class EndSignals : public QObject
{
public:
    EndSignals(std::function<void()> onEnd, QObject* parent);
    ~EndSignals() override;

private:
    std::function<void()> m_onEnd;
};
