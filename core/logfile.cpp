// SPDX-License-Identifier: MIT
#include "logfile.h"

#include "core/eventlog.h"
#include "core/safefile.h"

#include <QFile>
#include <QtGlobal>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>

#ifdef Q_OS_WIN
#include <io.h>
#include <share.h>
#else
#include <unistd.h>
#endif

using namespace Qt::StringLiterals;

// The C runtime's own calls rather than QFile: every step's failure must be
// seen with its errno (QFile::close() reports none), and the file must be
// synced and cut back through the same descriptor.

namespace {

QString systemError(int code)
{
    return QString::fromLocal8Bit(std::strerror(code));
}

#ifdef Q_OS_WIN

using FileOffset = __int64;

int openForAppend(const QString& path, QString* reason)
{
    int fd = -1;
    _wsopen_s(&fd, reinterpret_cast<const wchar_t*>(path.utf16()),
        _O_WRONLY | _O_APPEND | _O_CREAT | _O_BINARY | _O_NOINHERIT, _SH_DENYNO,
        _S_IREAD | _S_IWRITE);
    if (fd < 0)
        *reason = systemError(errno);
    return fd;
}

bool fileLength(int fd, FileOffset* length)
{
    struct _stat64 st;
    if (_fstat64(fd, &st) != 0)
        return false;
    *length = st.st_size;
    return true;
}

int writeSome(int fd, const char* data, qsizetype size)
{
    // _write takes an unsigned int count.
    const unsigned int chunk = unsigned(qMin<qsizetype>(size, 0x40000000));
    return _write(fd, data, chunk);
}

bool syncToDisk(int fd)
{
    return _commit(fd) == 0;
}

bool cutBack(int fd, FileOffset length)
{
    return _chsize_s(fd, length) == 0;
}

int spareDescriptor(int)
{
    return -1;
}

bool cutBackAfterClose(int, const QString& path, FileOffset length)
{
    int fd = -1;
    if (_wsopen_s(&fd, reinterpret_cast<const wchar_t*>(path.utf16()), _O_WRONLY | _O_BINARY,
            _SH_DENYNO, 0)
        != 0)
        return false;
    const bool ok = _chsize_s(fd, length) == 0;
    _close(fd);
    return ok;
}

int closeFile(int fd)
{
    return _close(fd);
}

#else

using FileOffset = off_t;

// Only a regular file, reached by no link another operator planted; a new
// one is shared with the group of a shared folder.
int openForAppend(const QString& path, QString* reason)
{
    const safefile::Opened opened = safefile::openForAppend(path);
    if (opened.fd < 0)
        *reason = opened.reason;
    return opened.fd;
}

bool fileLength(int fd, FileOffset* length)
{
    struct stat st;
    if (::fstat(fd, &st) != 0)
        return false;
    *length = st.st_size;
    return true;
}

ssize_t writeSome(int fd, const char* data, qsizetype size)
{
    ssize_t n;
    do {
        n = ::write(fd, data, size_t(size));
    } while (n < 0 && errno == EINTR);
    return n;
}

bool syncToDisk(int fd)
{
    if (::fsync(fd) == 0)
        return true;
    // A character device or a pipe (/dev/null, a FIFO) cannot be synced and
    // has nothing to lose; only a real failure to reach the disk counts.
    return errno == EINVAL || errno == EROFS;
}

bool cutBack(int fd, FileOffset length)
{
    return ::ftruncate(fd, length) == 0;
}

// The name may stand for another file by the time close() fails: the cut
// goes through a second descriptor of the same file.
int spareDescriptor(int fd)
{
    return ::fcntl(fd, F_DUPFD_CLOEXEC, 0);
}

bool cutBackAfterClose(int spare, const QString&, FileOffset length)
{
    return spare >= 0 && ::ftruncate(spare, length) == 0;
}

int closeFile(int fd)
{
    // Linux releases the descriptor even when close() fails, so no retry.
    return ::close(fd);
}

#endif

} // namespace

LogFile::Result LogFile::writeKept(const QString& path, const BeforeWrite& beforeWrite)
{
    if (m_kept.empty())
        return {};
    const Before before { keptCount(), m_journaled > 0 ? m_journal->place() : QString() };
    const Result result = writeKeptNow(path, beforeWrite);
    if (m_eventsLogged)
        logOutcome(path, before, result);
    return result;
}

LogFile::Result LogFile::writeKeptNow(const QString& path, const BeforeWrite& beforeWrite)
{
    Result result;
    if (m_journal && m_journal->holdsEarlierFor(path)) {
        // Readings an earlier run kept for this file go in before ours; while
        // they cannot, ours wait too, so the file keeps the readings' order.
        result.earlier = m_journal->retryEarlier(path);
        if (const QString waiting = result.earlier.failureFor(path); !waiting.isNull()) {
            result.ok = false;
            result.error = waiting;
            saveInJournal(path);
            return result;
        }
    }
    // While the file works nothing is journaled, and nothing is noted.
    Result written;
    if (m_journaled == 0) {
        written = writeAll(path, beforeWrite);
    } else {
        written = writeAll(path, [&](qint64 length) {
            if (beforeWrite)
                beforeWrite(length);
            noteInJournal(path, length);
        });
    }
    result.ok = written.ok;
    result.error = written.error;
    if (!result.ok) {
        saveInJournal(path);
    } else if (m_journal) {
        m_journal->discard();
        m_journaled = 0;
        m_journalError.clear();
    }
    return result;
}

void LogFile::noteInJournal(const QString& path, qint64 length)
{
    // Noted before the write: should the run end after the file took the
    // records and before the journal is gone, the next start sees that they
    // are there. A note that cannot be saved leaves just that moment open to
    // a reading written twice; the write matters more.
    m_journal->noteWrite(path, length, m_journaled);
}

void LogFile::saveInJournal(const QString& path)
{
    if (!m_journal || m_journaled == keptCount())
        return;
    const Journal::Result saved = m_journal->append(path, m_kept, m_journaled);
    if (saved.ok) {
        m_journaled = keptCount();
        m_journalError.clear();
    } else {
        m_journalError = saved.error;
    }
}

LogFile::Result LogFile::writeAll(const QString& path, const BeforeWrite& beforeWrite)
{
    // Opened before the records are joined: while the file cannot even be
    // opened, each new reading must not copy everything that waits.
    QString reason;
    const int fd = openForAppend(path, &reason);
    if (fd < 0)
        return { false, reason, {} };

    FileOffset oldLength = 0;
    bool failed = !fileLength(fd, &oldLength);
    int error = failed ? errno : 0;

    // One buffer, one write: a reader of the file, or a crash, sees all of the
    // waiting records or none of them. Usually there is just the one record.
    QByteArray joined;
    if (!failed && m_kept.size() > 1) {
        qsizetype total = 0;
        for (const QByteArray& r : m_kept)
            total += r.size();
        joined.reserve(total);
        for (const QByteArray& r : m_kept)
            joined.append(r);
    }
    const QByteArray& data = m_kept.size() > 1 ? joined : m_kept.front();

    if (!failed && beforeWrite)
        beforeWrite(oldLength);

    qsizetype done = 0;
    while (!failed && done < data.size()) {
        const auto n = writeSome(fd, data.constData() + done, data.size() - done);
        if (n <= 0) {
            // A write that takes nothing and reports nothing would loop forever.
            error = n < 0 ? errno : ENOSPC;
            failed = true;
        } else {
            done += n;
        }
    }
    if (!failed && !syncToDisk(fd)) {
        error = errno;
        failed = true;
    }

    if (failed) {
        // Best effort: on a device such as /dev/full there is nothing to cut.
        if (done > 0)
            cutBack(fd, oldLength);
        closeFile(fd);
        return { false, systemError(error), {} };
    }

    const int spare = spareDescriptor(fd);
    if (closeFile(fd) != 0) {
        // A network share may report the failed write only now.
        error = errno;
        cutBackAfterClose(spare, path, oldLength);
        if (spare >= 0)
            closeFile(spare);
        return { false, systemError(error), {} };
    }
    if (spare >= 0)
        closeFile(spare);

    m_kept.clear();
    return {};
}

void LogFile::logOutcome(const QString& path, const Before& before, const Result& result)
{
    logRecovery(result.earlier, false);
    if (result.ok) {
        qCDebug(lcLog).noquote() << u"%1 record(s) written into %2"_s.arg(
            QString::number(before.kept), path);
        if (!m_failure.recovered())
            return;
        m_journalFailure.recovered();
        qCInfo(lcLog).noquote() << u"log file %1 written again: %2 kept record(s) written%3"_s.arg(
            path, QString::number(before.kept),
            before.journal.isEmpty() ? QString() : u"; journal %1 removed"_s.arg(before.journal));
        return;
    }
    // Tried at every reading while it fails: told once per reason.
    if (m_failure.failed(path + u'\n' + result.error)) {
        const QString saved = !m_journal ? QString()
            : m_journalError.isEmpty()   ? u" and saved in the journal %1"_s.arg(m_journal->place())
                                         : QString();
        qCWarning(lcLog).noquote()
            << u"log file %1 cannot be written: %2; %3 reading(s) kept%4 until it can"_s.arg(
                   path, result.error, QString::number(keptCount()), saved);
    }
    if (!m_journal)
        return;
    if (m_journalError.isEmpty()) {
        if (m_journalFailure.recovered()) {
            qCInfo(lcLog).noquote()
                << u"the journal %1 took the kept readings again"_s.arg(m_journal->place());
        }
    } else if (m_journalFailure.failed(m_journalError)) {
        qCWarning(lcLog).noquote()
            << u"the journal %1 cannot take kept readings: %2; %3 reading(s) are in memory only"_s
                   .arg(m_journal->place(), m_journalError, QString::number(unsavedCount()));
    }
}
