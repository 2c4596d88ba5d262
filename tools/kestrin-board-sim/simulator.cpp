// SPDX-License-Identifier: MIT
#include "simulator.h"

#include "messages.h"

#include <QStringList>
#include <algorithm>
#include <cerrno>
#include <ctime>
#include <poll.h>
#include <unistd.h>
#include <vector>

using namespace Qt::StringLiterals;

namespace boardsim {

namespace {

double monotonicSeconds()
{
    timespec ts {};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

// ppoll()'s timeout until `wakeAt` on the monotonic clock, in `timeout`; none
// (wait for a descriptor) when `wakeAt` is negative.
timespec* timeoutUntil(double wakeAt, timespec& timeout)
{
    if (wakeAt < 0.0)
        return nullptr;
    const double wait = std::max(0.0, wakeAt - monotonicSeconds());
    timeout.tv_sec = static_cast<time_t>(wait);
    timeout.tv_nsec = static_cast<long>((wait - static_cast<double>(timeout.tv_sec)) * 1e9);
    return &timeout;
}

QString escapedText(const QString& line)
{
    return QString::fromLatin1(escaped(line.toLatin1()));
}

QLatin1StringView lineEndName(BoardModel::LineEnd lineEnd)
{
    switch (lineEnd) {
    case BoardModel::LineEnd::CrLf:
        return "CR LF"_L1;
    case BoardModel::LineEnd::LfCr:
        return "LF CR"_L1;
    case BoardModel::LineEnd::Cr:
        break;
    }
    return "CR"_L1;
}

} // namespace

Simulator::Simulator(const SimOptions& options)
    : m_options(options)
    , m_model(options.board)
    , m_pacer(options.pace)
    , m_start(monotonicSeconds())
{ }

double Simulator::elapsed() const
{
    return monotonicSeconds() - m_start;
}

void Simulator::verbose(const QString& text) const
{
    if (m_options.verbose)
        say(text);
}

bool Simulator::start()
{
    if (!m_signals.start())
        return false;
    m_line = m_options.devicePath.isEmpty() ? BoardLine::openLink(m_options.linkPath)
                                            : BoardLine::openDevice(m_options.devicePath);
    if (!m_line)
        return false;
    if (m_line->isPseudoTerminal() && !m_peers.start(m_line->slavePath())) {
        say(u"cannot watch opens of %1; sending whether or not the link is open"_s.arg(
            QString::fromLocal8Bit(m_line->slavePath())));
    }
    if (!m_options.transcriptPath.isEmpty() && !m_transcript.open(m_options.transcriptPath))
        return false;

    m_start = monotonicSeconds();
    if (m_options.readingInterval > 0.0)
        m_nextReading = m_start + m_options.readingInterval;
    if (m_options.burst > 0 && !m_peers.isWatching())
        m_burstAt = m_start + m_options.burstDelay;

    // One arg() call: the link's path may itself hold a "%1".
    say(u"board on %1; motion %2, readings %3, lines end %4, closing '%5'%6"_s.arg(
        m_line->description(),
        m_options.board.motion == BoardModel::Motion::Still ? u"still"_s : u"drift"_s,
        m_options.readingInterval > 0.0 ? u"every %1 s"_s.arg(m_options.readingInterval)
                                        : u"on Enter only"_s,
        lineEndName(m_options.board.lineEnd), QString(QLatin1Char(m_options.board.closing)),
        m_options.pace ? QString() : u", unpaced"_s));
    for (const QString& line : m_model.stateText(0.0))
        say(line);
    if (::isatty(m_keyboard.fd()))
        say(KeyHelp);
    return true;
}

void Simulator::send(const QByteArray& line, bool fromTerminal)
{
    if (!m_peers.someoneListens()) {
        const QString text
            = u"nobody has the link open; not sent: %1"_s.arg(QString::fromLatin1(escaped(line)));
        if (fromTerminal)
            say(text);
        else
            verbose(text);
        return;
    }
    verbose(u"-> %1"_s.arg(QString::fromLatin1(escaped(line))));
    m_pacer.append(line, monotonicSeconds());
}

void Simulator::sendReading(double value, bool fromTerminal)
{
    send(m_model.readingLine(value), fromTerminal);
}

void Simulator::handleLine(const QString& line)
{
    m_transcript.write(line);
    verbose(u"<- %1"_s.arg(escapedText(line)));
    const BoardModel::Outcome outcome = m_model.handleLine(line, elapsed());
    for (const QString& note : outcome.notes)
        say(note);
    if (!outcome.known)
        verbose(u"unknown line ignored: %1"_s.arg(escapedText(line)));
    for (const QByteArray& reply : outcome.replies)
        send(reply, false);
}

void Simulator::readLine()
{
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(m_line->fd(), buffer, sizeof buffer);
        if (n > 0) {
            QStringList lines;
            m_assembler.feed(QByteArrayView(buffer, n), lines);
            for (const QString& line : lines)
                handleLine(line);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno == EAGAIN)
            return;
        // Only a real device gets here: it was unplugged or closed under us.
        say(n == 0 ? u"the serial device closed"_s : whatFailed(u"cannot read the port"_s));
        m_quit = m_failed = true;
        return;
    }
}

void Simulator::handleKeys(const KeyCommand& command)
{
    switch (command.kind) {
    case KeyCommand::Kind::SendReading:
        sendReading(m_model.position(Encoder::Channel3, elapsed()), true);
        return;
    case KeyCommand::Kind::Quit:
        m_quit = true;
        return;
    case KeyCommand::Kind::ShowState:
        for (const QString& line : m_model.stateText(elapsed()))
            say(line);
        return;
    case KeyCommand::Kind::ToggleInputs:
        for (const int number : command.inputs) {
            m_model.toggleInput(number);
            say(u"input %1 %2 %3"_s.arg(number)
                    .arg(BoardModel::inputName(number))
                    .arg(m_model.inputs()[number - 1] ? u"active"_s : u"inactive"_s));
        }
        say(u"inputs now %1"_s.arg(m_model.inputFlagText()));
        return;
    case KeyCommand::Kind::ShowKeys:
        say(KeyHelp);
        return;
    }
}

void Simulator::readKeys()
{
    for (const KeyCommand& command : m_keyboard.read())
        handleKeys(command);
}

void Simulator::readPeers()
{
    for (const PeerWatch::Change change : m_peers.read()) {
        switch (change) {
        case PeerWatch::Change::Opened:
            say(u"the link was opened"_s);
            if (!m_peerEverOpened && m_options.burst > 0)
                m_burstAt = monotonicSeconds() + m_options.burstDelay;
            m_peerEverOpened = true;
            break;
        case PeerWatch::Change::LastClosed:
            say(u"the link was closed"_s);
            // What nobody read is gone, as on a line with nothing attached.
            m_pacer.clear();
            m_line->dropUnreadInput();
            m_assembler.clear();
            break;
        }
    }
}

void Simulator::sendDue(double now)
{
    if (m_waitWritable)
        return;
    const QByteArrayView due = m_pacer.due(now);
    if (due.isEmpty())
        return;
    const ssize_t n = ::write(m_line->fd(), due.data(), static_cast<std::size_t>(due.size()));
    if (n < 0) {
        if (errno == EAGAIN) {
            m_waitWritable = true;
        } else if (errno != EINTR) {
            say(whatFailed(u"cannot write to the port"_s));
            m_quit = m_failed = true;
        }
        return;
    }
    m_pacer.written(n);
}

// Until the other side has read the burst, ending would close the master and
// throw away what still waits in the pseudo-terminal.
bool Simulator::burstFullyRead()
{
    if (!m_pacer.isEmpty())
        return false;
    if (m_line->isPseudoTerminal() && m_peers.opens() == 0)
        return true;
    return m_line->allRead();
}

// The burst once its time has come; it goes out once.
void Simulator::sendBurstWhenDue(double now)
{
    if (m_burstAt < 0.0 || now < m_burstAt)
        return;
    m_burstAt = -1.0;
    for (long k = 1; k <= m_options.burst; ++k)
        sendReading(static_cast<double>(k), false);
    m_burstSent = true;
    say(u"burst of %1 readings queued"_s.arg(m_options.burst));
}

// The reading of --reading-interval. After a long stall the next one is due
// a whole interval from now, not at once for every interval missed.
void Simulator::sendReadingWhenDue(double now)
{
    if (m_nextReading <= 0.0 || now < m_nextReading)
        return;
    sendReading(m_model.position(Encoder::Channel3, now - m_start), false);
    m_nextReading += m_options.readingInterval;
    if (m_nextReading <= now)
        m_nextReading = now + m_options.readingInterval;
}

// The earliest time something is due without any descriptor waking the loop:
// the burst, the next reading, the pacer's next byte, a look at whether the
// burst has been read. Negative when nothing is.
double Simulator::wakeTime(double now) const
{
    double wakeAt = -1.0;
    const auto wakeBy = [&](double at) {
        if (at >= 0.0 && (wakeAt < 0.0 || at < wakeAt))
            wakeAt = at;
    };
    wakeBy(m_burstAt);
    if (m_nextReading > 0.0)
        wakeBy(m_nextReading);
    if (!m_pacer.isEmpty() && !m_waitWritable)
        wakeBy(m_pacer.nextAt(now));
    if (m_options.exitAfterBurst && m_burstSent)
        wakeBy(now + 0.02); // the reader's progress wakes nothing here
    return wakeAt;
}

// Waits until a descriptor is ready or `wakeAt`, then hands what is ready to
// its part. False when the board is to end: a signal, or ppoll() failing.
bool Simulator::waitAndHandle(double wakeAt)
{
    // Opens and closes first, so what arrives with them already knows
    // whether anyone listens.
    enum Watched : std::size_t
    {
        Signals,
        Peers,
        Line,
        Terminal
    };
    std::vector<pollfd> fds {
        { m_signals.fd(), POLLIN, 0 },
        { m_peers.fd(), POLLIN, 0 }, // ignored by ppoll() while negative
        { m_line->fd(), static_cast<short>(POLLIN | (m_waitWritable ? POLLOUT : 0)), 0 },
        { m_keyboard.isOpen() ? m_keyboard.fd() : -1, POLLIN, 0 },
    };
    timespec timeout {};
    if (::ppoll(fds.data(), fds.size(), timeoutUntil(wakeAt, timeout), nullptr) < 0) {
        if (errno == EINTR)
            return true;
        say(whatFailed(u"poll failed"_s));
        m_failed = true;
        return false;
    }

    if (fds[Signals].revents & POLLIN) {
        say(u"ending on signal %1"_s.arg(m_signals.take()));
        return false;
    }
    if (fds[Peers].revents & POLLIN)
        readPeers();
    if (fds[Line].revents & POLLOUT)
        m_waitWritable = false;
    if (fds[Line].revents & (POLLIN | POLLERR | POLLHUP))
        readLine();
    if (fds[Terminal].revents & (POLLIN | POLLHUP | POLLERR))
        readKeys();
    return true;
}

int Simulator::run()
{
    while (!m_quit) {
        const double now = monotonicSeconds();
        sendBurstWhenDue(now);
        sendReadingWhenDue(now);
        sendDue(now);
        if (m_options.exitAfterBurst && m_burstSent && burstFullyRead())
            break;
        if (!waitAndHandle(wakeTime(now)))
            break;
    }
    return m_failed ? 1 : 0;
}

} // namespace boardsim
