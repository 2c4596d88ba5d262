// SPDX-License-Identifier: MIT
#include "logfile.h"

#include "core/eventlog.h"
#include "core/safefile.h"
#include "core/writewhole.h"

#include <QFile>
#include <QtGlobal>
#include <cerrno>
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

#ifdef Q_OS_WIN

using FileOffset = __int64;

Result<int> openForAppend(const QString& path)
{
    int fd = -1;
    _wsopen_s(&fd, reinterpret_cast<const wchar_t*>(path.utf16()),
        _O_WRONLY | _O_APPEND | _O_CREAT | _O_BINARY | _O_NOINHERIT, _SH_DENYNO,
        _S_IREAD | _S_IWRITE);
    if (fd < 0)
        return systemFailure(errno);
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
Result<int> openForAppend(const QString& path)
{
    return safefile::openForAppend(path);
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

// One buffer, one write: a reader of the file, or a crash, sees all of the
// waiting records or none of them. Usually there is just the one record.
QByteArray joinedRecords(const std::deque<QByteArray>& records)
{
    if (records.size() == 1)
        return records.front();
    qsizetype total = 0;
    for (const QByteArray& r : records)
        total += r.size();
    QByteArray joined;
    joined.reserve(total);
    for (const QByteArray& r : records)
        joined.append(r);
    return joined;
}

// Writes `data` whole and syncs it; what a failed write left is cut back to
// `oldLength`.
Result<void> writeSynced(int fd, const QByteArray& data, FileOffset oldLength)
{
    const qsizetype done = writeWhole(data, [fd](const char* bytes, qsizetype count, qsizetype) {
        return writeSome(fd, bytes, count);
    });
    int error = done < data.size() ? errno : 0;
    if (error == 0 && !syncToDisk(fd))
        error = errno;
    if (error == 0)
        return {};
    // Best effort: on a device such as /dev/full there is nothing to cut.
    if (done > 0)
        cutBack(fd, oldLength);
    return systemFailure(error);
}

// Closes the written file. A network share may report the failed write only
// now: then the records are cut off again.
Result<void> closeWritten(int fd, const QString& path, FileOffset oldLength)
{
    const int spare = spareDescriptor(fd);
    Result<void> closed;
    if (closeFile(fd) != 0) {
        closed = systemFailure(errno);
        cutBackAfterClose(spare, path, oldLength);
    }
    if (spare >= 0)
        closeFile(spare);
    return closed;
}

// Appends `records` to the file at `path` in one write, or leaves the file
// as it was.
Result<void> appendRecords(const QString& path, const std::deque<QByteArray>& records,
    const LogFile::BeforeWrite& beforeWrite)
{
    // Opened before the records are joined: while the file cannot even be
    // opened, each new reading must not copy everything that waits.
    const Result<int> opened = openForAppend(path);
    if (!opened)
        return opened.failure();
    const int fd = opened.value();
    FileOffset oldLength = 0;
    if (!fileLength(fd, &oldLength)) {
        const Failure failure = systemFailure(errno);
        closeFile(fd);
        return failure;
    }
    const QByteArray data = joinedRecords(records);
    if (beforeWrite)
        beforeWrite(oldLength);
    if (Result<void> written = writeSynced(fd, data, oldLength); !written) {
        closeFile(fd);
        return written;
    }
    return closeWritten(fd, path, oldLength);
}

} // namespace

LogFile::Written LogFile::writeKept(const QString& path, const BeforeWrite& beforeWrite)
{
    if (m_kept.empty())
        return {};
    const Before before { keptCount(), m_journaled > 0 ? m_journal->place() : QString() };
    Written result = writeKeptNow(path, beforeWrite);
    if (m_eventsLogged)
        logOutcome(path, before, result);
    return result;
}

LogFile::Written LogFile::writeKeptNow(const QString& path, const BeforeWrite& beforeWrite)
{
    Recovery earlier;
    if (m_journal && m_journal->holdsEarlierFor(path)) {
        // Readings an earlier run kept for this file go in before ours; while
        // they cannot, ours wait too, so the file keeps the readings' order.
        earlier = m_journal->retryEarlier(path);
        if (const QString waiting = earlier.failureFor(path); !waiting.isNull()) {
            saveInJournal(path);
            return { Failure { waiting }, std::move(earlier) };
        }
    }
    // While the file works nothing is journaled, and nothing is noted.
    Result<void> written = m_journaled == 0 ? appendRecords(path, m_kept, beforeWrite)
                                            : appendRecords(path, m_kept, [&](qint64 length) {
                                                  if (beforeWrite)
                                                      beforeWrite(length);
                                                  noteInJournal(path, length);
                                              });
    if (!written) {
        saveInJournal(path);
        return { std::move(written), std::move(earlier) };
    }
    m_kept.clear();
    if (m_journal) {
        m_journal->discard();
        m_journaled = 0;
        m_journalError.clear();
    }
    return { std::move(written), std::move(earlier) };
}

void LogFile::noteInJournal(const QString& path, qint64 length)
{
    // Noted before the write: should the run end after the file took the
    // records and before the journal is gone, the next start sees that they
    // are there. A note that cannot be saved leaves just that moment open to
    // a reading written twice; the write matters more.
    (void)m_journal->noteWrite(path, length, m_journaled);
}

void LogFile::saveInJournal(const QString& path)
{
    if (!m_journal || m_journaled == keptCount())
        return;
    const Result<void> saved = m_journal->append(path, m_kept, m_journaled);
    if (saved) {
        m_journaled = keptCount();
        m_journalError.clear();
    } else {
        m_journalError = saved.reason();
    }
}

void LogFile::logOutcome(const QString& path, const Before& before, const Written& result)
{
    logRecovery(result.earlier, false);
    if (result) {
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
    if (m_failure.failed(path + u'\n' + result.reason())) {
        const QString saved = !m_journal ? QString()
            : m_journalError.isEmpty()   ? u" and saved in the journal %1"_s.arg(m_journal->place())
                                         : QString();
        qCWarning(lcLog).noquote()
            << u"log file %1 cannot be written: %2; %3 reading(s) kept%4 until it can"_s.arg(
                   path, result.reason(), QString::number(keptCount()), saved);
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
