// SPDX-License-Identifier: MIT
#pragma once

// The running board: one thread, one poll loop. Received bytes, the terminal,
// the signals that end it and opens of the pseudo-terminal by the other side
// all wake the same ppoll(); each part lives in a unit of its own and this
// class only passes between them.

#include "boardline.h"
#include "boardmodel.h"
#include "core/lineassembler.h"
#include "endsignals.h"
#include "keyboard.h"
#include "pacer.h"
#include "peerwatch.h"
#include "simoptions.h"
#include "transcript.h"

#include <memory>

namespace boardsim {

class Simulator
{
public:
    explicit Simulator(const SimOptions& options);

    // Takes the signals that end it, opens the line and the transcript; says
    // why and returns false when it cannot. Watches who opens a
    // pseudo-terminal; when it cannot, it says so and sends whether or not
    // anyone listens.
    bool start();
    // Until a signal, q, the end of the burst (--exit-after-burst) or the
    // line failing; the exit status, 1 after a failure.
    int run();

private:
    double elapsed() const;
    void verbose(const QString& text) const;

    void readLine();
    void handleLine(const QString& line);
    void readKeys();
    void handleKeys(const KeyCommand& command);
    void readPeers();
    void send(const QByteArray& line, bool fromTerminal);
    void sendReading(double value, bool fromTerminal);
    void sendBurstWhenDue(double now);
    void sendReadingWhenDue(double now);
    void sendDue(double now);
    bool burstFullyRead();
    double wakeTime(double now) const;
    bool waitAndHandle(double wakeAt);

    SimOptions m_options;
    BoardModel m_model;
    LineAssembler m_assembler;
    std::unique_ptr<BoardLine> m_line;
    PeerWatch m_peers;
    Transcript m_transcript;
    Pacer m_pacer;
    Keyboard m_keyboard;
    EndSignals m_signals;
    double m_start = 0.0;

    bool m_peerEverOpened = false;
    bool m_waitWritable = false;
    double m_nextReading = 0.0;
    double m_burstAt = -1.0;
    bool m_burstSent = false;
    bool m_quit = false;
    bool m_failed = false;
};

} // namespace boardsim
