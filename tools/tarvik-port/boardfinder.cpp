// SPDX-License-Identifier: MIT
#include "boardfinder.h"

#include "core/lineassembler.h"
#include "core/protocol.h"
#include "core/safefile.h"
#include "port/boardport.h"
#include "portsurvey.h"

#include <QEventLoop>
#include <QFile>
#include <QTimer>

#ifndef Q_OS_WIN
#include <csignal>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <memory>

using namespace Qt::StringLiterals;

namespace tarvikport {

namespace {

using Verdict = Finding::Verdict;

// More than a screenful without one line of the board's is a device that
// streams something else.
constexpr qsizetype FloodBytes = 4096;

// Bytes as they can be shown on one line: controls as \xNN, at most 40
// characters.
QString shown(QByteArrayView bytes)
{
    constexpr qsizetype Most = 40;
    QString text;
    for (const char c : bytes.first(std::min(bytes.size(), Most))) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte >= 0x20 && byte < 0x7f && byte != '\\')
            text += QChar(char16_t(byte));
        else
            text += u"\\x%1"_s.arg(byte, 2, 16, QChar(u'0'));
    }
    if (bytes.size() > Most)
        text += u"..."_s;
    return text;
}

// SIGINT, SIGTERM and SIGHUP wait while ports are open: the serial port's
// lock file goes only when the port is closed, and one left behind would
// lock other operators out of the port. The wait is bounded by the search.
class EndSignalsHeld
{
public:
    EndSignalsHeld()
    {
#ifndef Q_OS_WIN
        sigset_t held;
        sigemptyset(&held);
        for (int sig : { SIGINT, SIGTERM, SIGHUP })
            sigaddset(&held, sig);
        ::sigprocmask(SIG_BLOCK, &held, &m_before);
#endif
    }
    ~EndSignalsHeld()
    {
#ifndef Q_OS_WIN
        ::sigprocmask(SIG_SETMASK, &m_before, nullptr);
#endif
    }
    EndSignalsHeld(const EndSignalsHeld&) = delete;
    EndSignalsHeld& operator=(const EndSignalsHeld&) = delete;

private:
#ifndef Q_OS_WIN
    sigset_t m_before;
#endif
};

// One port being asked.
class BoardProbe : public QObject
{
    Q_OBJECT

public:
    BoardProbe(const Candidate& candidate, int waitMs, QObject* parent)
        : QObject(parent)
        , m_waitMs(waitMs)
    {
        m_finding.candidate = candidate;
    }

    const Finding& finding() const { return m_finding; }
    bool isDone() const { return m_done; }

    // What can be told without opening the port. False when that is all.
    bool look()
    {
        const QString& device = m_finding.candidate.device;
#ifndef Q_OS_WIN
        struct stat st;
        if (::stat(QFile::encodeName(device).constData(), &st) != 0)
            return settle(Verdict::Gone, u"gone before it was asked"_s);
        // Never even opened: a FIFO or a file is no serial line, and another
        // operator's terminal is no board of this one's.
        const QString refused = safefile::refusedPort(-1, device);
        if (!refused.isEmpty())
            return settle(Verdict::NotUsed, refused);
#endif
        const PortAccess access = portAccess(device, m_finding.candidate.lockNames);
        if (access.state == PortAccess::State::InUse)
            return settle(Verdict::InUse, access.detail);
        if (access.state == PortAccess::State::NoPermission)
            return settle(Verdict::NoPermission, access.detail);
        return true;
    }

    // Opens the port as tarvik does and sends the request.
    void ask()
    {
        m_port = new BoardPort(this);
        QString error;
        if (!m_port->open(m_finding.candidate.device, &error)) {
            // Taken or refused between the look and the open.
            constexpr auto InUseBy = "in use by "_L1;
            if (error.startsWith(InUseBy))
                finish(Verdict::InUse, error.mid(InUseBy.size()));
            else if (error.startsWith(u"no permission"_s))
                finish(Verdict::NoPermission, permissionProblem(m_finding.candidate.device));
            else
                finish(Verdict::Failed, error);
            return;
        }
        connect(m_port, &BoardPort::bytesReceived, this, &BoardProbe::received);
        connect(m_port, &BoardPort::connectedChanged, this, [this](bool connected) {
            if (!connected)
                finish(Verdict::Gone, u"went away while it was asked"_s);
        });
        if (!m_port->writeLine(protocol::RequestInputs)) {
            finish(Verdict::Failed, u"the request could not be sent"_s);
            return;
        }
        auto* deadline = new QTimer(this);
        deadline->setSingleShot(true);
        connect(deadline, &QTimer::timeout, this, &BoardProbe::timeUp);
        deadline->start(m_waitMs);
    }

Q_SIGNALS:
    void finished();

private:
    bool settle(Verdict verdict, const QString& detail)
    {
        m_finding.verdict = verdict;
        m_finding.detail = detail;
        m_done = true;
        return false;
    }

    // Ends the asking; the port is closed once the handler that called this
    // has returned, not under the serial port's own signal.
    void finish(Verdict verdict, const QString& detail)
    {
        if (m_done)
            return;
        settle(verdict, detail);
        QMetaObject::invokeMethod(
            this,
            [this] {
                if (m_port)
                    m_port->close();
                Q_EMIT finished();
            },
            Qt::QueuedConnection);
    }

    void received(const QByteArray& bytes)
    {
        if (m_done)
            return;
        m_bytes += bytes.size();
        if (m_sample.size() < 64)
            m_sample += bytes.first(std::min<qsizetype>(bytes.size(), 64 - m_sample.size()));
        QStringList lines;
        m_lines.feed(bytes, lines);
        for (const QString& line : std::as_const(lines)) {
            if (protocol::replyKind(line) != protocol::ReplyKind::Other) {
                finish(Verdict::Board, u"answered "_s + shown(line.toLatin1()));
                return;
            }
        }
        if (m_bytes > FloodBytes) {
            finish(Verdict::SomethingElse,
                u"a stream of %1 bytes without a line of the board's: %2"_s.arg(m_bytes).arg(
                    shown(m_sample)));
        }
    }

    void timeUp()
    {
        if (m_bytes == 0) {
            finish(Verdict::NoAnswer,
                u"no answer in %1 s"_s.arg(QString::number(m_waitMs / 1000.0, 'g', 3)));
        } else {
            finish(Verdict::SomethingElse, shown(m_sample));
        }
    }

    Finding m_finding;
    int m_waitMs;
    bool m_done = false;
    BoardPort* m_port = nullptr;
    LineAssembler m_lines;
    QByteArray m_sample;
    qsizetype m_bytes = 0;
};

} // namespace

QList<Finding> findBoards(const QList<Candidate>& candidates, int waitMs)
{
    QObject owner;
    QList<BoardProbe*> probes;
    // Everything is looked at before anything is opened.
    for (const Candidate& candidate : candidates) {
        auto* probe = new BoardProbe(candidate, waitMs, &owner);
        probe->look();
        probes.append(probe);
    }
    {
        const EndSignalsHeld held;
        QEventLoop loop;
        int pending = 0;
        for (BoardProbe* probe : std::as_const(probes)) {
            if (probe->isDone())
                continue;
            QObject::connect(probe, &BoardProbe::finished, &loop, [&pending, &loop] {
                if (--pending == 0)
                    loop.quit();
            });
            ++pending;
            probe->ask();
        }
        if (pending > 0)
            loop.exec();
    }
    QList<Finding> findings;
    for (const BoardProbe* probe : std::as_const(probes))
        findings.append(probe->finding());
    return findings;
}

namespace {

// What a port's line says of each verdict, %1 the finding's detail.
QString verdictFormat(Finding::Verdict verdict)
{
    switch (verdict) {
    case Verdict::Board:
        return u"board (%1)"_s;
    case Verdict::NoAnswer:
    case Verdict::Gone:
        return u"%1"_s;
    case Verdict::SomethingElse:
        return u"answered something else: %1"_s;
    case Verdict::InUse:
        return u"skipped: in use by %1"_s;
    case Verdict::NoPermission:
        return u"skipped: no permission (%1)"_s;
    case Verdict::NotUsed:
        return u"skipped: %1"_s;
    case Verdict::Failed:
        return u"could not be asked: %1"_s;
    }
    return u"%1"_s;
}

} // namespace

QString findingLine(const Finding& finding)
{
    return finding.candidate.shown + u": "_s + verdictFormat(finding.verdict).arg(finding.detail);
}

} // namespace tarvikport

#include "boardfinder.moc"
