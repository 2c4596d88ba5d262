// SPDX-License-Identifier: MIT
// The rules for the shared data folder: which links are followed, which
// files are logged to or read, how shared files are made, how the settings
// file is replaced and which ports are used. The rules are tested as plain
// functions for any user; the cases on real files that need a second user
// run where the test may give a file to one (as root) and are skipped
// elsewhere.

#include "core/safefile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

using namespace Qt::StringLiterals;
using safefile::DeviceVerdict;
using safefile::Kind;
using safefile::UserId;

namespace {

// Someone who is neither the test's user nor root.
constexpr UserId Other = 54321;
constexpr UserId Operator = 1001;

bool asRoot()
{
    return ::geteuid() == 0;
}

QByteArray contents(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

bool writeFile(const QString& path, const QByteArray& data)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(data) == data.size();
}

bool makeFifo(const QString& path)
{
    return ::mkfifo(QFile::encodeName(path).constData(), 0666) == 0;
}

bool makeLink(const QString& target, const QString& link, UserId owner)
{
    const QByteArray name = QFile::encodeName(link);
    if (::symlink(QFile::encodeName(target).constData(), name.constData()) != 0)
        return false;
    return owner == ::geteuid() || ::lchown(name.constData(), owner, gid_t(-1)) == 0;
}

unsigned modeOf(const QString& path)
{
    struct stat st;
    return ::lstat(QFile::encodeName(path).constData(), &st) == 0 ? st.st_mode : 0;
}

// Sets the umask for one test, as a launcher or a shell would.
class UmaskScope
{
public:
    explicit UmaskScope(mode_t mask)
        : m_old(::umask(mask))
    { }
    ~UmaskScope() { ::umask(m_old); }

private:
    mode_t m_old;
};

} // namespace

Q_DECLARE_METATYPE(safefile::Kind)
Q_DECLARE_METATYPE(safefile::DeviceVerdict)

class tst_SafeFile : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void linkRule_data();
    void linkRule();
    void deviceRule_data();
    void deviceRule();
    void kinds_data();
    void kinds();
    void specialFilesAreNotOpened_data();
    void specialFilesAreNotOpened();
    void ownLinkIsFollowed();
    void othersLinkIsRefused_data();
    void othersLinkIsRefused();
    void createdFileIsShared_data();
    void createdFileIsShared();
    void replace_data();
    void replace();
    void replaceLeavesSpecialFilesAlone_data();
    void replaceLeavesSpecialFilesAlone();
    void replaceInPlaceWhenFolderIsReadOnly();
    void port_data();
    void port();
};

void tst_SafeFile::linkRule_data()
{
    QTest::addColumn<UserId>("linkOwner");
    QTest::addColumn<UserId>("folderOwner");
    QTest::addColumn<UserId>("runner");
    QTest::addColumn<bool>("follow");

    QTest::newRow("own link in the shared folder") << Operator << UserId(0) << Operator << true;
    QTest::newRow("root's link in root's folder") << UserId(0) << UserId(0) << Operator << true;
    QTest::newRow("another operator's link in the shared folder")
        << Other << UserId(0) << Operator << false;
    QTest::newRow("another operator's link in his own folder")
        << Other << Other << Operator << true;
    // The fault: root running Tarvik appended to whatever an operator linked.
    QTest::newRow("regression: root follows an operator's link")
        << Operator << UserId(0) << UserId(0) << false;
    QTest::newRow("root's link in an operator's folder") << UserId(0) << Other << Operator << false;
}

void tst_SafeFile::linkRule()
{
    QFETCH(UserId, linkOwner);
    QFETCH(UserId, folderOwner);
    QFETCH(UserId, runner);
    QFETCH(bool, follow);
    QCOMPARE(safefile::mayFollowLink(linkOwner, folderOwner, runner), follow);
}

void tst_SafeFile::deviceRule_data()
{
    QTest::addColumn<Kind>("kind");
    QTest::addColumn<UserId>("owner");
    QTest::addColumn<UserId>("runner");
    QTest::addColumn<DeviceVerdict>("verdict");

    QTest::newRow("adapter, root's")
        << Kind::CharDevice << UserId(0) << Operator << DeviceVerdict::Use;
    QTest::newRow("own simulator's terminal")
        << Kind::CharDevice << Operator << Operator << DeviceVerdict::Use;
    QTest::newRow("regression: another operator's terminal")
        << Kind::CharDevice << Other << Operator << DeviceVerdict::OthersDevice;
    QTest::newRow("root uses an operator's terminal")
        << Kind::CharDevice << Operator << UserId(0) << DeviceVerdict::OthersDevice;
    QTest::newRow("regular file") << Kind::Regular << Operator << Operator
                                  << DeviceVerdict::NotADevice;
    QTest::newRow("FIFO") << Kind::Fifo << Operator << Operator << DeviceVerdict::NotADevice;
    QTest::newRow("block device") << Kind::BlockDevice << UserId(0) << Operator
                                  << DeviceVerdict::NotADevice;
}

void tst_SafeFile::deviceRule()
{
    QFETCH(Kind, kind);
    QFETCH(UserId, owner);
    QFETCH(UserId, runner);
    QFETCH(DeviceVerdict, verdict);
    QCOMPARE(safefile::portDeviceVerdict(kind, owner, runner), verdict);
}

void tst_SafeFile::kinds_data()
{
    QTest::addColumn<unsigned>("mode");
    QTest::addColumn<Kind>("kind");
    QTest::newRow("regular 0664") << unsigned(S_IFREG | 0664) << Kind::Regular;
    QTest::newRow("set-group-ID folder") << unsigned(S_IFDIR | 02775) << Kind::Folder;
    QTest::newRow("link") << unsigned(S_IFLNK | 0777) << Kind::Link;
    QTest::newRow("FIFO") << unsigned(S_IFIFO | 0666) << Kind::Fifo;
    QTest::newRow("character device") << unsigned(S_IFCHR | 0620) << Kind::CharDevice;
    QTest::newRow("block device") << unsigned(S_IFBLK | 0660) << Kind::BlockDevice;
    QTest::newRow("socket") << unsigned(S_IFSOCK | 0755) << Kind::Socket;
}

void tst_SafeFile::kinds()
{
    QFETCH(unsigned, mode);
    QFETCH(Kind, kind);
    QCOMPARE(safefile::kindOfMode(mode), kind);
}

// Nothing hangs in open(), nothing reads a device forever: special files get
// the answer an unwritable file gets.
void tst_SafeFile::specialFilesAreNotOpened_data()
{
    QTest::addColumn<QString>("what");
    QTest::addColumn<QString>("reason");
    QTest::newRow("regression: FIFO without reader hung the open")
        << u"fifo"_s << safefile::notRegularText(Kind::Fifo);
    QTest::newRow("FIFO with a reader") << u"fifo-read"_s << safefile::notRegularText(Kind::Fifo);
    QTest::newRow("regression: own link to /dev/zero read forever")
        << u"zero"_s << safefile::notRegularText(Kind::CharDevice);
    QTest::newRow("socket") << u"socket"_s << safefile::notRegularText(Kind::Socket);
}

void tst_SafeFile::specialFilesAreNotOpened()
{
    QFETCH(QString, what);
    QFETCH(QString, reason);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath(u"Default.csv"_s);
    int reader = -1;
    int sock = -1;
    if (what.startsWith(u"fifo")) {
        QVERIFY(makeFifo(path));
        if (what == u"fifo-read")
            QVERIFY(
                (reader = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK)) >= 0);
    } else if (what == u"zero") {
        QVERIFY(makeLink(u"/dev/zero"_s, path, ::geteuid()));
    } else {
        sock = ::socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un address {};
        address.sun_family = AF_UNIX;
        const QByteArray name = QFile::encodeName(path);
        QVERIFY(size_t(name.size()) < sizeof address.sun_path);
        std::memcpy(address.sun_path, name.constData(), size_t(name.size()));
        QVERIFY(::bind(sock, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0);
    }

    const safefile::Opened append = safefile::openForAppend(path);
    const safefile::Opened read = safefile::openForReading(path);
    if (reader >= 0)
        ::close(reader);
    if (sock >= 0)
        ::close(sock);
    QCOMPARE(append.fd, -1);
    QCOMPARE(append.reason, reason);
    QCOMPARE(read.fd, -1);
    QCOMPARE(read.reason, reason);
}

void tst_SafeFile::ownLinkIsFollowed()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString target = dir.filePath(u"mine.csv"_s);
    const QString link = dir.filePath(u"Default.csv"_s);
    QVERIFY(writeFile(target, "old\r\n"));
    QVERIFY(makeLink(u"mine.csv"_s, link, ::geteuid()));

    QVERIFY(safefile::refusedLink(link).isEmpty());
    const safefile::Opened opened = safefile::openForAppend(link);
    QVERIFY2(opened.fd >= 0, qPrintable(opened.reason));
    QCOMPARE(::write(opened.fd, "new\r\n", 5), ssize_t(5));
    ::close(opened.fd);
    QCOMPARE(contents(target), QByteArray("old\r\nnew\r\n"));
}

void tst_SafeFile::othersLinkIsRefused_data()
{
    QTest::addColumn<bool>("targetExists");
    QTest::newRow("regression: link to an operator's .profile") << true;
    QTest::newRow("dangling link would create a file") << false;
}

// Another operator's link in a folder he does not own: not followed for
// reading, appending or replacing; the target stays as it was.
void tst_SafeFile::othersLinkIsRefused()
{
    QFETCH(bool, targetExists);
    if (!asRoot())
        QSKIP("needs root to make a link owned by another user (the rule itself: linkRule)");
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString target = dir.filePath(u"profile"_s);
    if (targetExists)
        QVERIFY(writeFile(target, "PATH=x\n"));
    const QString link = dir.filePath(u"Default.csv"_s);
    QVERIFY(makeLink(target, link, Other));

    const QString reason = safefile::refusedLinkText(safefile::userName(Other));
    QCOMPARE(safefile::refusedLink(link), reason);
    QCOMPARE(safefile::openForAppend(link).reason, reason);
    QCOMPARE(safefile::openForReading(link).reason, reason);
    QCOMPARE(QFileInfo::exists(target), targetExists);
    if (targetExists)
        QCOMPARE(contents(target), QByteArray("PATH=x\n"));

    // Replacing the settings file replaces the link, never its target.
    QVERIFY(safefile::replaceFile(link, "[System]\r\nComPort=1\r\n").ok);
    QVERIFY(!QFileInfo(link).isSymLink());
    QCOMPARE(contents(link), QByteArray("[System]\r\nComPort=1\r\n"));
    QCOMPARE(QFileInfo::exists(target), targetExists);
    if (targetExists)
        QCOMPARE(contents(target), QByteArray("PATH=x\n"));
}

void tst_SafeFile::createdFileIsShared_data()
{
    QTest::addColumn<int>("folderMode");
    QTest::addColumn<int>("mask");
    QTest::addColumn<int>("fileMode");
    QTest::newRow("regression: shared folder, umask 022") << 02775 << 022 << 0664;
    QTest::newRow("shared folder, umask 077") << 02770 << 077 << 0660;
    QTest::newRow("shared folder, umask 002") << 02775 << 002 << 0664;
    QTest::newRow("own folder keeps the umask") << 0755 << 022 << 0644;
}

// Whatever the umask, a file made in a group-writable folder can be appended
// to by the group.
void tst_SafeFile::createdFileIsShared()
{
    QFETCH(int, folderMode);
    QFETCH(int, mask);
    QFETCH(int, fileMode);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QVERIFY(::chmod(QFile::encodeName(dir.path()).constData(), mode_t(folderMode)) == 0);
    const QString log = dir.filePath(u"Default.csv"_s);
    const QString settings = dir.filePath(u"Settings.ini"_s);
    {
        UmaskScope scope { mode_t(mask) };
        const safefile::Opened opened = safefile::openForAppend(log);
        QVERIFY2(opened.fd >= 0, qPrintable(opened.reason));
        ::close(opened.fd);
        QVERIFY(safefile::replaceFile(settings, "[System]\r\nComPort=1\r\n").ok);
    }
    QCOMPARE(modeOf(log) & 07777, unsigned(fileMode));
    QCOMPARE(modeOf(settings) & 07777, unsigned(fileMode));
}

void tst_SafeFile::replace_data()
{
    QTest::addColumn<QString>("before"); // "" none, "file", "own link"
    QTest::newRow("new file") << QString();
    QTest::newRow("existing file") << u"file"_s;
    QTest::newRow("own link: its target is replaced") << u"own link"_s;
}

// A new file renamed into place: the bytes exactly, the old file's
// permissions kept, and no half-written file ever at the name.
void tst_SafeFile::replace()
{
    QFETCH(QString, before);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath(u"Settings.ini"_s);
    const QString target = dir.filePath(u"elsewhere.ini"_s);
    if (before == u"file") {
        QVERIFY(writeFile(path, "[System]\nComPort=\n"));
        QVERIFY(::chmod(QFile::encodeName(path).constData(), 0640) == 0);
    } else if (before == u"own link") {
        QVERIFY(writeFile(target, "[System]\nComPort=\n"));
        QVERIFY(makeLink(u"elsewhere.ini"_s, path, ::geteuid()));
    }
    const QByteArray bytes("; kept\r\n[System]\r\nComPort=1\r\n");
    const safefile::Result result = safefile::replaceFile(path, bytes);
    QVERIFY2(result.ok, qPrintable(result.error));
    QCOMPARE(contents(path), bytes);
    if (before == u"file")
        QCOMPARE(modeOf(path) & 0777, 0640u);
    if (before == u"own link") {
        QVERIFY(QFileInfo(path).isSymLink());
        QCOMPARE(contents(target), bytes);
    }
    // No temporary file left behind.
    QCOMPARE(QDir(dir.path())
                 .entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot)
                 .size(),
        before == u"own link" ? 2 : 1);
}

void tst_SafeFile::replaceLeavesSpecialFilesAlone_data()
{
    QTest::addColumn<QString>("what");
    QTest::newRow("FIFO") << u"fifo"_s;
    QTest::newRow("folder") << u"folder"_s;
    QTest::newRow("own link to /dev/null") << u"null"_s;
}

void tst_SafeFile::replaceLeavesSpecialFilesAlone()
{
    QFETCH(QString, what);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath(u"Settings.ini"_s);
    if (what == u"fifo")
        QVERIFY(makeFifo(path));
    else if (what == u"folder")
        QVERIFY(QDir(dir.path()).mkdir(u"Settings.ini"_s));
    else
        QVERIFY(makeLink(u"/dev/null"_s, path, ::geteuid()));
    const unsigned mode = modeOf(path);

    QVERIFY(!safefile::replaceFile(path, "[System]\r\nComPort=1\r\n").ok);
    QCOMPARE(modeOf(path), mode);
    QCOMPARE(QDir(dir.path())
                 .entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot)
                 .size(),
        1);
}

// An operator may make the file writable in a folder that is not: the file
// is then rewritten through its descriptor.
void tst_SafeFile::replaceInPlaceWhenFolderIsReadOnly()
{
    if (asRoot())
        QSKIP("root writes into read-only folders");
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath(u"Settings.ini"_s);
    QVERIFY(writeFile(path, "[System]\r\nComPort=  longer old value\r\n"));
    const QByteArray folder = QFile::encodeName(dir.path());
    QVERIFY(::chmod(folder.constData(), 0555) == 0);
    const safefile::Result result = safefile::replaceFile(path, "[System]\r\nComPort=1\r\n");
    ::chmod(folder.constData(), 0755);
    QVERIFY2(result.ok, qPrintable(result.error));
    QCOMPARE(contents(path), QByteArray("[System]\r\nComPort=1\r\n"));
}

void tst_SafeFile::port_data()
{
    QTest::addColumn<QString>("what");
    QTest::addColumn<bool>("used");
    QTest::newRow("own pseudo-terminal") << u"own pty"_s << true;
    QTest::newRow("system device /dev/null") << u"null"_s << true;
    QTest::newRow("regression: another user's pseudo-terminal") << u"other pty"_s << false;
    QTest::newRow("regular file") << u"file"_s << false;
}

void tst_SafeFile::port()
{
    QFETCH(QString, what);
    QFETCH(bool, used);
    if (what == u"other pty" && !asRoot())
        QSKIP("needs root to give a terminal to another user (the rule itself: deviceRule)");
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    int master = -1;
    QString device;
    if (what.endsWith(u"pty")) {
        master = ::posix_openpt(O_RDWR | O_NOCTTY);
        QVERIFY(master >= 0);
        QVERIFY(::grantpt(master) == 0 && ::unlockpt(master) == 0);
        device = QString::fromLocal8Bit(::ptsname(master));
        if (what == u"other pty")
            QVERIFY(::chown(QFile::encodeName(device).constData(), Other, gid_t(-1)) == 0);
    } else if (what == u"null") {
        device = u"/dev/null"_s;
    } else {
        device = dir.filePath(u"plain"_s);
        QVERIFY(writeFile(device, "x"));
    }
    const QString link = dir.filePath(u"com1"_s);
    QVERIFY(makeLink(device, link, ::geteuid()));

    const int fd = ::open(QFile::encodeName(link).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    QVERIFY(fd >= 0);
    const QString refused = safefile::refusedPort(fd, link);
    ::close(fd);
    if (master >= 0)
        ::close(master);
    QCOMPARE(refused.isEmpty(), used);
    if (!used)
        QVERIFY2(refused.contains(device), qPrintable(refused));
}

QTEST_GUILESS_MAIN(tst_SafeFile)
#include "tst_safefile.moc"
