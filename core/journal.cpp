// SPDX-License-Identifier: MIT
#include "core/journal.h"

#include "core/eventlog.h"
#include "core/logfile.h"
#include "core/safefile.h"
#include "core/writewhole.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QtEndian>
#include <algorithm>
#include <array>
#include <cerrno>
#include <map>

#ifdef Q_OS_WIN
#include <fcntl.h>
#include <io.h>
#include <share.h>
#include <sys/stat.h>
#else
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

using namespace Qt::StringLiterals;

namespace {

// The first line says what the file is to anyone who opens it.
constexpr char Magic[] = "Tarvik kept readings 1\n";
constexpr qsizetype MagicSize = sizeof(Magic) - 1;
// A reading's record is some tens of bytes; a bigger size is a torn entry.
constexpr quint32 MaxPayload = 1u << 20;
constexpr qsizetype EntryHead = 8;
const QString NotAJournalText = QStringLiteral("it is not a journal of kept readings");

QString native(const QString& path)
{
    return QDir::toNativeSeparators(path);
}

constexpr std::array<quint32, 256> crcTable()
{
    std::array<quint32, 256> table {};
    for (quint32 n = 0; n < 256; ++n) {
        quint32 c = n;
        for (int k = 0; k < 8; ++k)
            c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
        table[n] = c;
    }
    return table;
}

// CRC-32 as in zip and PNG.
quint32 crc32(const char* data, qsizetype size)
{
    static constexpr std::array<quint32, 256> table = crcTable();
    quint32 c = 0xFFFFFFFFu;
    for (qsizetype i = 0; i < size; ++i)
        c = table[(c ^ quint8(data[i])) & 0xFF] ^ (c >> 8);
    return c ^ 0xFFFFFFFFu;
}

template<class T> void put(QByteArray& out, T value)
{
    const T le = qToLittleEndian(value);
    out.append(reinterpret_cast<const char*>(&le), sizeof le);
}

template<class T> bool take(const QByteArray& in, qsizetype& at, T* value)
{
    if (in.size() - at < qsizetype(sizeof(T)))
        return false;
    *value = qFromLittleEndian<T>(in.constData() + at);
    at += sizeof(T);
    return true;
}

QByteArray framed(const QByteArray& payload)
{
    QByteArray entry;
    entry.reserve(EntryHead + payload.size());
    put<quint32>(entry, quint32(payload.size()));
    put<quint32>(entry, crc32(payload.constData(), payload.size()));
    entry.append(payload);
    return entry;
}

void putPath(QByteArray& out, const QString& path)
{
    const QByteArray utf8 = path.toUtf8();
    put<quint16>(out, quint16(utf8.size()));
    out.append(utf8);
}

bool takePath(const QByteArray& in, qsizetype& at, QString* path)
{
    quint16 n = 0;
    if (!take(in, at, &n) || in.size() - at < n)
        return false;
    *path = QString::fromUtf8(in.constData() + at, n);
    at += n;
    return true;
}

QByteArray recordEntry(const QString& logFile, const QByteArray& record)
{
    QByteArray payload;
    payload.reserve(3 + logFile.size() * 3 + record.size());
    payload.append('R');
    putPath(payload, logFile);
    payload.append(record);
    return framed(payload);
}

QByteArray writeEntry(const QString& logFile, qint64 length, qsizetype first, qsizetype count)
{
    QByteArray payload;
    payload.append('W');
    put<quint64>(payload, quint64(length));
    put<quint32>(payload, quint32(first));
    put<quint32>(payload, quint32(count));
    putPath(payload, logFile);
    return framed(payload);
}

struct Entry
{
    char kind = 0;
    QString logFile;
    QByteArray record; // 'R'
    qint64 length = 0; // 'W'
    qsizetype first = 0;
    qsizetype count = 0;
};

struct Parsed
{
    bool readable = true; // false: not a journal at all
    std::vector<Entry> entries;
    qint64 validLength = 0; // up to the first torn entry
    qint64 length = 0; // of all that was read
};

Parsed parse(const QByteArray& bytes)
{
    Parsed parsed;
    parsed.length = bytes.size();
    if (!bytes.startsWith(QByteArrayView(Magic, MagicSize))) {
        // A header torn by a power cut (a part of it, or zeros) holds no
        // readings; anything else is not ours to read.
        const bool torn = bytes.size() < MagicSize
            && (QByteArrayView(Magic, MagicSize).startsWith(bytes)
                || bytes.count('\0') == bytes.size());
        parsed.readable = torn;
        return parsed;
    }
    qsizetype at = MagicSize;
    parsed.validLength = at;
    for (;;) {
        quint32 size = 0;
        quint32 crc = 0;
        qsizetype p = at;
        if (!take(bytes, p, &size) || !take(bytes, p, &crc) || size == 0 || size > MaxPayload
            || bytes.size() - p < qsizetype(size) || crc32(bytes.constData() + p, size) != crc)
            break;
        const QByteArray payload = bytes.mid(p, size);
        qsizetype q = 1;
        Entry entry;
        entry.kind = payload.at(0);
        bool ok = false;
        if (entry.kind == 'R') {
            ok = takePath(payload, q, &entry.logFile);
            entry.record = payload.mid(q);
        } else if (entry.kind == 'W') {
            quint64 length = 0;
            quint32 first = 0;
            quint32 count = 0;
            ok = take(payload, q, &length) && take(payload, q, &first) && take(payload, q, &count)
                && takePath(payload, q, &entry.logFile);
            entry.length = qint64(length);
            entry.first = first;
            entry.count = count;
        }
        // A whole entry of a kind this version does not know is skipped.
        if (ok)
            parsed.entries.push_back(std::move(entry));
        at = p + size;
        parsed.validLength = at;
    }
    return parsed;
}

// The reading's date and time as its record gives them: "value","date","time".
QString readingMoment(const QByteArray& record)
{
    QString text = QString::fromLocal8Bit(record);
    if (text.endsWith(u"\r\n"_s))
        text.chop(2);
    if (text.size() < 2 || !text.startsWith(u'"') || !text.endsWith(u'"'))
        return {};
    const QStringList fields = text.mid(1, text.size() - 2).split(u"\",\""_s);
    return fields.size() == 3 ? fields[1] + u' ' + fields[2] : QString();
}

QString journalName(qint64 sequence)
{
    return u"kept-%1-%2.journal"_s.arg(sequence, 10, 10, QChar(u'0'))
        .arg(QCoreApplication::applicationPid());
}

qint64 sequenceOf(const QString& name)
{
    return name.section(u'-', 1, 1).toLongLong();
}

// The journals in `folder`, oldest first.
QStringList journalsIn(const QString& folder)
{
    QStringList names = QDir(folder).entryList({ u"kept-*.journal"_s }, QDir::Files);
    std::sort(names.begin(), names.end(), [](const QString& a, const QString& b) {
        const qint64 sa = sequenceOf(a);
        const qint64 sb = sequenceOf(b);
        return sa != sb ? sa < sb : a < b;
    });
    return names;
}

qint64 nextSequence(const QString& folder)
{
    const QStringList names = journalsIn(folder);
    return names.isEmpty() ? 1 : sequenceOf(names.constLast()) + 1;
}

enum class InLog
{
    There, // every byte at the noted place
    Torn, // a part of them there, or zeros, and nothing after
    Not
};

InLog compareAt(const QByteArray& found, qint64 have, const QByteArray& bytes)
{
    if (have >= bytes.size() && found == bytes)
        return InLog::There;
    if (have <= 0 || have > bytes.size())
        return InLog::Not;
    for (qsizetype i = 0; i < found.size(); ++i) {
        if (found[i] != bytes[i] && found[i] != '\0')
            return InLog::Not;
    }
    return InLog::Torn;
}

#ifdef Q_OS_WIN

Result<void> preparePrivateFolder(const QString& folder, bool create)
{
    // %LOCALAPPDATA% is the user's own already.
    if (create && !QDir().mkpath(folder))
        return Failure { u"cannot make the folder %1"_s.arg(native(folder)) };
    return {};
}

int openShared(const QString& path, int flags, int* fd)
{
    *fd = -1;
    _wsopen_s(fd, reinterpret_cast<const wchar_t*>(native(path).utf16()),
        flags | _O_BINARY | _O_NOINHERIT, _SH_DENYRW, _S_IREAD | _S_IWRITE);
    return *fd >= 0 ? 0 : errno;
}

bool writeAllFd(int fd, const QByteArray& data)
{
    // _write takes an unsigned int count.
    return writeWhole(data, [fd](const char* bytes, qsizetype count, qsizetype) {
        return _write(fd, bytes, unsigned(qMin<qsizetype>(count, 0x40000000)));
    }) == data.size();
}

InLog lookInLog(const QString& path, qint64 length, const QByteArray& bytes)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly) || f.size() < length || !f.seek(length))
        return InLog::Not;
    const qint64 have = f.size() - length;
    return compareAt(f.read(qMin<qint64>(have, bytes.size())), have, bytes);
}

void cutLog(const QString& path, qint64 length)
{
    int fd = -1;
    if (_wsopen_s(&fd, reinterpret_cast<const wchar_t*>(native(path).utf16()),
            _O_WRONLY | _O_BINARY, _SH_DENYNO, 0)
        != 0)
        return;
    if (_chsize_s(fd, length) == 0)
        _commit(fd);
    _close(fd);
}

#else

// The journals' folder, or a journal, is used only when it is this user's.
Result<void> ownedByUser(const struct stat& st)
{
    if (st.st_uid != ::geteuid())
        return Failure { u"it belongs to %1, not to you"_s.arg(safefile::userName(st.st_uid)) };
    return {};
}

Result<void> preparePrivateFolder(const QString& folder, bool create)
{
    if (create) {
        QDir().mkpath(QFileInfo(folder).path());
        if (::mkdir(QFile::encodeName(folder).constData(), 0700) != 0 && errno != EEXIST)
            return systemFailure(errno);
    }
    if (const QString refused = safefile::refusedLink(folder); !refused.isEmpty())
        return Failure { refused };
    const int fd = ::open(
        QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return systemFailure(errno);
    struct stat st;
    Result<void> made;
    if (::fstat(fd, &st) != 0)
        made = systemFailure(errno);
    else if (made = ownedByUser(st); made && (st.st_mode & 077) != 0 && ::fchmod(fd, 0700) != 0)
        made = systemFailure(errno);
    ::close(fd);
    return made;
}

bool writeAllFd(int fd, const QByteArray& data)
{
    return writeWhole(data, [fd](const char* bytes, qsizetype count, qsizetype) {
        return ::write(fd, bytes, size_t(count));
    }) == data.size();
}

bool readAllFd(int fd, QByteArray* out)
{
    char buffer[65536];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return false;
        if (n == 0)
            return true;
        out->append(buffer, n);
    }
}

InLog lookInLog(const QString& path, qint64 length, const QByteArray& bytes)
{
    const Result<int> opened = safefile::openForReading(path);
    if (!opened)
        return InLog::Not;
    const int fd = opened.value();
    InLog verdict = InLog::Not;
    struct stat st;
    if (::fstat(fd, &st) == 0 && st.st_size >= length) {
        const qint64 have = st.st_size - length;
        QByteArray found(qMin<qint64>(have, bytes.size()), Qt::Uninitialized);
        qsizetype done = 0;
        while (done < found.size()) {
            const ssize_t n
                = ::pread(fd, found.data() + done, size_t(found.size() - done), length + done);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                break;
            done += n;
        }
        if (done == found.size())
            verdict = compareAt(found, have, bytes);
    }
    ::close(fd);
    return verdict;
}

// Only our own torn write is cut off, and only while nothing follows it.
void cutLog(const QString& path, qint64 length)
{
    const Result<int> opened = safefile::openForAppend(path);
    if (!opened)
        return;
    if (::ftruncate(opened.value(), length) == 0)
        ::fsync(opened.value());
    ::close(opened.value());
}

#endif

} // namespace

// ------------------------------------------------------------ Journal::File

// One journal file, open and locked for this run.
class Journal::File
{
public:
    ~File();
    File(const File&) = delete;
    File& operator=(const File&) = delete;

    // A new journal in `folder`, locked before it has its name.
    static Result<std::unique_ptr<File>> create(const QString& folder);
    // An earlier run's journal, with its entries in `*parsed`; a failure
    // when it cannot be used, null when it is gone or a live run holds it
    // (then `*held`).
    static Result<std::unique_ptr<File>> adopt(const QString& path, Parsed* parsed, bool* held);
#ifndef Q_OS_WIN
    // adopt() once `fd` reads the journal at `path`: `fd` is the new File's
    // lock, and is left open for the caller to close otherwise.
    static Result<std::unique_ptr<File>> takeOver(
        const QString& path, int fd, Parsed* parsed, bool* held);
#endif

    // Appends `bytes` and syncs. A failed append is cut off again; a journal
    // that cannot even be cut takes nothing more.
    Result<void> append(const QByteArray& bytes);
    // Removes the file, then lets go of it.
    void remove();
    const QString& path() const { return m_path; }

private:
    File(int fd, int lockFd, QString path, qint64 length)
        : m_fd(fd)
        , m_lockFd(lockFd)
        , m_path(std::move(path))
        , m_length(length)
    { }
    void close();

    int m_fd = -1;
    int m_lockFd = -1; // a second descriptor holding the lock, when there is one
    QString m_path;
    qint64 m_length = 0; // of the entries known to be whole
    bool m_broken = false;
};

Journal::File::~File()
{
    close();
}

#ifdef Q_OS_WIN

void Journal::File::close()
{
    if (m_fd >= 0)
        _close(std::exchange(m_fd, -1));
}

Result<std::unique_ptr<Journal::File>> Journal::File::create(const QString& folder)
{
    if (const Result<void> prepared = preparePrivateFolder(folder, true); !prepared)
        return prepared.failure();
    // Opened for this program alone, which is the lock: a run starting
    // meanwhile cannot open it.
    for (int attempt = 0; attempt < 4; ++attempt) {
        const QString path = folder + u'/' + journalName(nextSequence(folder));
        int fd = -1;
        const int code = openShared(path, _O_RDWR | _O_CREAT | _O_EXCL, &fd);
        if (code == EEXIST)
            continue;
        if (fd < 0)
            return systemFailure(code);
        if (!writeAllFd(fd, QByteArray(Magic, MagicSize))) {
            const Failure failure = systemFailure(errno);
            _close(fd);
            _wunlink(reinterpret_cast<const wchar_t*>(native(path).utf16()));
            return failure;
        }
        return std::unique_ptr<File>(new File(fd, -1, path, MagicSize));
    }
    return systemFailure(EEXIST);
}

Result<std::unique_ptr<Journal::File>> Journal::File::adopt(
    const QString& path, Parsed* parsed, bool* held)
{
    int fd = -1;
    const int code = openShared(path, _O_RDWR, &fd);
    if (fd < 0) {
        *held = code == EACCES;
        if (code != EACCES && code != ENOENT)
            return systemFailure(code);
        return std::unique_ptr<File>();
    }
    QByteArray bytes;
    char buffer[65536];
    int n;
    while ((n = _read(fd, buffer, sizeof buffer)) > 0)
        bytes.append(buffer, n);
    if (n < 0) {
        const Failure failure = systemFailure(errno);
        _close(fd);
        return failure;
    }
    *parsed = parse(bytes);
    if (!parsed->readable) {
        _close(fd);
        return Failure { NotAJournalText };
    }
    if (parsed->validLength < bytes.size())
        _chsize_s(fd, parsed->validLength);
    return std::unique_ptr<File>(new File(fd, -1, path, parsed->validLength));
}

Result<void> Journal::File::append(const QByteArray& bytes)
{
    if (m_broken || m_fd < 0)
        return Failure { u"it could not be mended after a failed write"_s };
    if (_lseeki64(m_fd, m_length, SEEK_SET) < 0 || !writeAllFd(m_fd, bytes) || _commit(m_fd) != 0) {
        const int code = errno;
        if (_chsize_s(m_fd, m_length) != 0)
            m_broken = true;
        return systemFailure(code);
    }
    m_length += bytes.size();
    return {};
}

void Journal::File::remove()
{
    // Windows deletes no file that is open.
    close();
    _wunlink(reinterpret_cast<const wchar_t*>(native(m_path).utf16()));
}

#else

void Journal::File::close()
{
    if (m_fd >= 0)
        ::close(std::exchange(m_fd, -1));
    if (m_lockFd >= 0)
        ::close(std::exchange(m_lockFd, -1));
}

Result<std::unique_ptr<Journal::File>> Journal::File::create(const QString& folder)
{
    if (const Result<void> prepared = preparePrivateFolder(folder, true); !prepared)
        return prepared.failure();
    // The process number in the name keeps two runs apart; within a run,
    // journals are made one at a time.
    const QString name = journalName(nextSequence(folder));
    const QString path = folder + u'/' + name;
    const QString hidden = folder + u"/."_s + name + u".new"_s;
    const Result<int> opened = safefile::openForAppend(hidden);
    if (!opened)
        return opened.failure();
    const int fd = opened.value();
    const QByteArray hiddenName = QFile::encodeName(hidden);
    struct stat st;
    if (::fchmod(fd, 0600) != 0 || ::flock(fd, LOCK_EX | LOCK_NB) != 0 || ::fstat(fd, &st) != 0
        || (st.st_size != 0 && ::ftruncate(fd, 0) != 0)
        || !writeAllFd(fd, QByteArray(Magic, MagicSize))
        || ::rename(hiddenName.constData(), QFile::encodeName(path).constData()) != 0) {
        const Failure failure = systemFailure(errno);
        ::unlink(hiddenName.constData());
        ::close(fd);
        return failure;
    }
    if (const Result<void> synced = safefile::syncFolderOf(path); !synced) {
        ::unlink(QFile::encodeName(path).constData());
        ::close(fd);
        return synced.failure();
    }
    return std::unique_ptr<File>(new File(fd, -1, path, MagicSize));
}

namespace {

// An earlier run's journal is taken over only when it is this user's alone,
// and locked, so that no other run takes it too; `*held` when a live run
// holds it.
Result<void> lockEarlier(int fd, bool* held)
{
    struct stat st;
    if (::fstat(fd, &st) != 0)
        return systemFailure(errno);
    if (const Result<void> owned = ownedByUser(st); !owned)
        return owned;
    if ((st.st_mode & 022) != 0)
        return Failure { u"others may write it"_s };
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        if (errno != EWOULDBLOCK)
            return systemFailure(errno);
        *held = true;
    }
    return {};
}

// Removed by its run between our look and our lock: its readings are in
// their log file.
bool removedMeanwhile(int fd)
{
    struct stat st;
    return ::fstat(fd, &st) != 0 || st.st_nlink == 0;
}

// The journal's entries, read whole from `fd`.
Result<Parsed> readJournal(int fd)
{
    QByteArray bytes;
    if (!readAllFd(fd, &bytes))
        return systemFailure(errno);
    Parsed parsed = parse(bytes);
    if (!parsed.readable)
        return Failure { NotAJournalText };
    return parsed;
}

// The descriptor that appends to the journal at `path`, its torn tail cut
// off first, before anything is appended after it.
Result<int> openForMending(const QString& path, const Parsed& parsed)
{
    const Result<int> appending = safefile::openForAppend(path);
    if (!appending || parsed.validLength == parsed.length)
        return appending;
    const int fd = appending.value();
    if (::ftruncate(fd, parsed.validLength) != 0 || ::fdatasync(fd) != 0) {
        const Failure failure = systemFailure(errno);
        ::close(fd);
        return failure;
    }
    return fd;
}

} // namespace

Result<std::unique_ptr<Journal::File>> Journal::File::adopt(
    const QString& path, Parsed* parsed, bool* held)
{
    const Result<int> reading = safefile::openForReading(path);
    if (!reading) {
        if (reading.error() == ENOENT)
            return std::unique_ptr<File>();
        return reading.failure();
    }
    Result<std::unique_ptr<File>> adopted = takeOver(path, reading.value(), parsed, held);
    if (!adopted || !adopted.value())
        ::close(reading.value());
    return adopted;
}

Result<std::unique_ptr<Journal::File>> Journal::File::takeOver(
    const QString& path, int fd, Parsed* parsed, bool* held)
{
    if (const Result<void> locked = lockEarlier(fd, held); !locked)
        return locked.failure();
    if (*held || removedMeanwhile(fd))
        return std::unique_ptr<File>();
    Result<Parsed> read = readJournal(fd);
    if (!read)
        return read.failure();
    const Result<int> appending = openForMending(path, read.value());
    if (!appending)
        return appending.failure();
    *parsed = std::move(read.value());
    return std::unique_ptr<File>(new File(appending.value(), fd, path, parsed->validLength));
}

Result<void> Journal::File::append(const QByteArray& bytes)
{
    if (m_broken || m_fd < 0)
        return Failure { u"it could not be mended after a failed write"_s };
    if (!writeAllFd(m_fd, bytes) || ::fdatasync(m_fd) != 0) {
        const int code = errno;
        if (::ftruncate(m_fd, m_length) != 0)
            m_broken = true;
        return systemFailure(code);
    }
    m_length += bytes.size();
    return {};
}

void Journal::File::remove()
{
    // Removed while still locked: no run starting now takes it.
    ::unlink(QFile::encodeName(m_path).constData());
    close();
}

#endif

// ------------------------------------------------------------------ Journal

struct Journal::Earlier
{
    std::unique_ptr<File> file;
    std::vector<JournalRecord> records;
    std::vector<bool> done;
    std::vector<Entry> notes; // the noted writes

    bool finished() const { return std::find(done.begin(), done.end(), false) == done.end(); }
    void markWritten(const QString* only);
    // The end of the run of readings from `first` on that are meant for the
    // same file and not written yet.
    qsizetype runEnd(qsizetype first) const;
    // Writes the readings first..end-1 into their file.
    Result<void> writeRun(qsizetype first, qsizetype end);
};

// Which records a noted write put into its log file. Looked at again right
// before each attempt: a log file away at the start may be back with them.
void Journal::Earlier::markWritten(const QString* only)
{
    for (const Entry& note : notes) {
        const qsizetype end = note.first + note.count;
        if (note.count <= 0 || end > qsizetype(records.size()))
            continue;
        bool wanted = false;
        for (qsizetype k = note.first; k < end && !wanted; ++k)
            wanted = !done[size_t(k)] && (!only || records[size_t(k)].logFile == *only);
        if (!wanted)
            continue;
        QByteArray bytes;
        for (qsizetype k = note.first; k < end; ++k)
            bytes += records[size_t(k)].record;
        switch (lookInLog(note.logFile, note.length, bytes)) {
        case InLog::There:
            std::fill(done.begin() + note.first, done.begin() + end, true);
            break;
        case InLog::Torn:
            cutLog(note.logFile, note.length);
            break;
        case InLog::Not:
            break;
        }
    }
}

Journal::Journal(const QString& folder)
    : m_folder(QDir::fromNativeSeparators(folder))
{ }

Journal::~Journal() = default;

QString Journal::defaultFolder()
{
#ifdef Q_OS_WIN
    QString base = qEnvironmentVariable("LOCALAPPDATA");
    if (base.isEmpty())
        base = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    return QDir::fromNativeSeparators(base) + u"/Tarvik"_s;
#else
    // A relative XDG_STATE_HOME is to be ignored.
    QString base = qEnvironmentVariable("XDG_STATE_HOME");
    if (base.isEmpty() || !QDir::isAbsolutePath(base))
        base = QDir::homePath() + u"/.local/state"_s;
    return base + u"/tarvik"_s;
#endif
}

Result<void> Journal::append(
    const QString& logFile, const std::deque<QByteArray>& kept, qsizetype from)
{
    if (!m_own) {
        Result<std::unique_ptr<File>> made = File::create(m_folder);
        if (!made)
            return made.failure();
        m_own = std::move(made.value());
    }
    QByteArray bytes;
    for (auto it = kept.begin() + from; it != kept.end(); ++it)
        bytes += recordEntry(logFile, *it);
    return m_own->append(bytes);
}

Result<void> Journal::noteWrite(const QString& logFile, qint64 length, qsizetype count)
{
    if (!m_own)
        return Failure { u"there is no journal"_s };
    return m_own->append(writeEntry(logFile, length, 0, count));
}

void Journal::discard()
{
    if (m_own) {
        m_own->remove();
        m_own.reset();
    }
}

QString Journal::place() const
{
    return native(m_own ? m_own->path() : m_folder);
}

std::vector<JournalRecord> Journal::readRecords(const QString& path)
{
    QFile f(path);
    std::vector<JournalRecord> records;
    if (!f.open(QIODevice::ReadOnly))
        return records;
    for (Entry& entry : parse(f.readAll()).entries) {
        if (entry.kind == 'R')
            records.push_back({ std::move(entry.logFile), std::move(entry.record) });
    }
    return records;
}

Recovery Journal::recoverEarlier()
{
    Recovery report;
    report.folder = native(m_folder);
    if (!QFileInfo(m_folder).isDir())
        return report;
    if (const Result<void> prepared = preparePrivateFolder(m_folder, false); !prepared) {
        report.problems.append(u"Readings kept by an earlier run are not read from %1: %2."_s.arg(
            report.folder, prepared.reason()));
        logRecovery(report, true);
        return report;
    }
    for (const QString& name : journalsIn(m_folder)) {
        const QString path = m_folder + u'/' + name;
        const bool ours = (m_own && m_own->path() == path)
            || std::any_of(m_earlier.begin(), m_earlier.end(),
                [&](const auto& e) { return e->file->path() == path; });
        if (ours)
            continue;
        Parsed parsed;
        bool held = false;
        Result<std::unique_ptr<File>> file = File::adopt(path, &parsed, &held);
        if (!file) {
            report.problems.append(
                u"The journal %1 is not read: %2."_s.arg(native(path), file.reason()));
            continue;
        }
        if (!file.value())
            continue;
        auto earlier = std::make_unique<Earlier>();
        earlier->file = std::move(file.value());
        for (Entry& entry : parsed.entries) {
            if (entry.kind == 'R') {
                earlier->records.push_back({ std::move(entry.logFile), std::move(entry.record) });
                earlier->done.push_back(false);
            } else {
                earlier->notes.push_back(std::move(entry));
            }
        }
        m_earlier.push_back(std::move(earlier));
    }
    writeEarlier(report, nullptr);
    logRecovery(report, true);
    return report;
}

bool Journal::holdsEarlierFor(const QString& logFile) const
{
    for (const auto& earlier : m_earlier) {
        for (size_t i = 0; i < earlier->records.size(); ++i) {
            if (!earlier->done[i] && earlier->records[i].logFile == logFile)
                return true;
        }
    }
    return false;
}

Recovery Journal::retryEarlier(const QString& logFile)
{
    Recovery report;
    report.folder = native(m_folder);
    writeEarlier(report, &logFile);
    return report;
}

namespace {

void addOutcome(Recovery& report, const QString& logFile, qsizetype count, const QString& first,
    const QString& last, const QString& error)
{
    for (RecoveredReadings& r : report.files) {
        if (r.logFile == logFile && r.error.isEmpty() == error.isEmpty()) {
            r.count += count;
            r.last = last;
            if (!error.isEmpty())
                r.error = error;
            return;
        }
    }
    report.files.push_back({ logFile, count, first, last, error });
}

} // namespace

qsizetype Journal::Earlier::runEnd(qsizetype first) const
{
    const QString& logFile = records[size_t(first)].logFile;
    qsizetype end = first + 1;
    while (end < qsizetype(records.size()) && !done[size_t(end)]
        && records[size_t(end)].logFile == logFile)
        ++end;
    return end;
}

Result<void> Journal::Earlier::writeRun(qsizetype first, qsizetype end)
{
    const QString& logFile = records[size_t(first)].logFile;
    LogFile log;
    log.setEventsLogged(false); // the recovery is told as a whole
    for (qsizetype k = first; k < end; ++k)
        log.keep(records[size_t(k)].record);
    // Noted first, so that a crash after the write does not write them
    // again. A note that cannot be saved leaves just that moment open to a
    // reading written twice; the write matters more.
    const LogFile::Written written = log.writeKept(logFile, [&](qint64 length) {
        (void)file->append(writeEntry(logFile, length, first, end - first));
        notes.push_back({ 'W', logFile, {}, length, first, end - first });
    });
    if (written)
        std::fill(done.begin() + first, done.begin() + end, true);
    return written;
}

void Journal::writeEarlier(Recovery& report, const QString* only)
{
    // A file that failed once in this pass is not tried again for later
    // readings: they must not go in before the earlier ones.
    std::map<QString, QString> failed;
    for (auto it = m_earlier.begin(); it != m_earlier.end();) {
        Earlier& e = **it;
        e.markWritten(only);
        for (qsizetype i = 0; i < qsizetype(e.records.size());) {
            if (e.done[size_t(i)]) {
                ++i;
                continue;
            }
            // A run of readings meant for the same file, written in one go.
            const qsizetype end = e.runEnd(i);
            const QString logFile = e.records[size_t(i)].logFile;
            if (!only || *only == logFile) {
                const auto f = failed.find(logFile);
                const Result<void> written
                    = f != failed.end() ? Result<void>(Failure { f->second }) : e.writeRun(i, end);
                if (!written)
                    failed[logFile] = written.reason();
                addOutcome(report, logFile, end - i, readingMoment(e.records[size_t(i)].record),
                    readingMoment(e.records[size_t(end - 1)].record), written.reason());
            }
            i = end;
        }
        if (e.finished()) {
            e.file->remove();
            it = m_earlier.erase(it);
        } else {
            ++it;
        }
    }
}

// ----------------------------------------------------------------- Recovery

qsizetype Recovery::writtenCount() const
{
    qsizetype n = 0;
    for (const RecoveredReadings& r : files) {
        if (r.error.isEmpty())
            n += r.count;
    }
    return n;
}

QString Recovery::failureFor(const QString& logFile) const
{
    for (const RecoveredReadings& r : files) {
        if (r.logFile == logFile && !r.error.isEmpty())
            return r.error;
    }
    return {};
}

QString Recovery::message() const
{
    if (isEmpty())
        return {};
    QStringList parts;
    if (!files.empty())
        parts.append(u"An earlier run of Tarvik ended with readings that it could not write to "
                     u"their log file."_s);
    for (const RecoveredReadings& r : files) {
        QString when;
        if (!r.first.isEmpty())
            when = r.first == r.last ? u" from %1"_s.arg(r.first)
                                     : u" from %1 to %2"_s.arg(r.first, r.last);
        if (r.error.isEmpty()) {
            parts.append(u"%1 reading(s)%2 are now written into %3."_s.arg(
                QString::number(r.count), when, r.logFile));
        } else {
            parts.append(u"%1 reading(s)%2 still cannot be written into %3: %4. They stay saved "
                         u"in %5; Tarvik writes them before the next reading that goes into "
                         u"that file, or at its next start."_s.arg(
                             QString::number(r.count), when, r.logFile, r.error, folder));
        }
    }
    parts.append(problems);
    return parts.join(u"\r\n\r\n"_s);
}
