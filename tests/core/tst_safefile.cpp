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
#include <sys/wait.h>
#include <unistd.h>

using namespace Qt::StringLiterals;
using safefile::DeviceVerdict;
using safefile::Kind;
using safefile::UserId;

namespace {

// Someone who is neither the test's user nor root.
constexpr UserId Other = 54321;
constexpr UserId Operator = 1001;
constexpr UserId RootUserId = 0;

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

// refusedPort() for `link` opened by a program that has a terminal: /dev/tty
// opens only there. A child in a session of its own, with a pseudo-terminal
// for its terminal, opens it and writes the answer back.
QString refusedWithOwnTerminal(const QString& link)
{
    int answer[2];
    if (::pipe(answer) != 0)
        return u"no pipe"_s;
    const pid_t child = ::fork();
    if (child == 0) {
        ::close(answer[0]);
        QByteArray result = "no terminal of its own";
        const int master = ::posix_openpt(O_RDWR | O_NOCTTY);
        if (::setsid() >= 0 && master >= 0 && ::grantpt(master) == 0 && ::unlockpt(master) == 0
            && ::open(::ptsname(master), O_RDWR) >= 0) {
            const int fd
                = ::open(QFile::encodeName(link).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
            result = fd < 0 ? QByteArray("cannot open: ") + std::strerror(errno)
                            : safefile::refusedPort(fd, link).toUtf8();
        }
        [[maybe_unused]] const auto written = ::write(answer[1], result.constData(), result.size());
        ::_exit(0);
    }
    ::close(answer[1]);
    QByteArray result;
    char buffer[512];
    for (ssize_t n; (n = ::read(answer[0], buffer, sizeof buffer)) > 0;)
        result.append(buffer, n);
    ::close(answer[0]);
    ::waitpid(child, nullptr, 0);
    return QString::fromUtf8(result);
}

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
    void linksOnTheWay_data();
    void linksOnTheWay();
    void hardLinkIsRefused_data();
    void hardLinkIsRefused();
    void rewriteDisclosesNoMore_data();
    void rewriteDisclosesNoMore();
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
    QTest::addColumn<UserId>("runner");
    QTest::addColumn<bool>("follow");

    // Where the link stands no longer matters: only who made it.
    QTest::newRow("own link in the shared folder") << Operator << Operator << true;
    QTest::newRow("root's link in root's folder") << RootUserId << Operator << true;
    QTest::newRow("another operator's link in the shared folder") << Other << Operator << false;
    // The fault: choosing a file in another operator's folder followed his
    // link into one's own files.
    QTest::newRow("regression: another operator's link in his own folder")
        << Other << Operator << false;
    // The fault: root running Tarvik appended to whatever an operator linked.
    QTest::newRow("regression: root follows an operator's link") << Operator << RootUserId << false;
    QTest::newRow("root's link in an operator's folder") << RootUserId << Operator << true;
}

void tst_SafeFile::linkRule()
{
    QFETCH(UserId, linkOwner);
    QFETCH(UserId, runner);
    QFETCH(bool, follow);
    QCOMPARE(safefile::mayFollowLink(linkOwner, runner), follow);
}

void tst_SafeFile::deviceRule_data()
{
    QTest::addColumn<Kind>("kind");
    QTest::addColumn<unsigned>("major");
    QTest::addColumn<unsigned>("minor");
    QTest::addColumn<bool>("hardware");
    QTest::addColumn<UserId>("owner");
    QTest::addColumn<bool>("linksTrusted");
    QTest::addColumn<UserId>("runner");
    QTest::addColumn<DeviceVerdict>("verdict");

    const Kind dev = Kind::CharDevice;
    QTest::newRow("adapter, root's (ttyUSB0)")
        << dev << 188u << 0u << true << RootUserId << true << Operator << DeviceVerdict::Use;
    QTest::newRow("adapter through another operator's com1 link")
        << dev << 188u << 0u << true << RootUserId << false << Operator << DeviceVerdict::Use;
    QTest::newRow("built-in port (ttyS0)")
        << dev << 4u << 64u << true << RootUserId << true << Operator << DeviceVerdict::Use;
    QTest::newRow("own simulator's terminal")
        << dev << 136u << 7u << false << Operator << true << Operator << DeviceVerdict::Use;
    QTest::newRow("regression: own terminal through another operator's link")
        << dev << 136u << 7u << false << Operator << false << Operator << DeviceVerdict::OthersLink;
    QTest::newRow("root's terminal through own links")
        << dev << 143u << 1u << false << RootUserId << true << Operator << DeviceVerdict::Use;
    QTest::newRow("regression: another operator's terminal")
        << dev << 136u << 7u << false << Other << true << Operator << DeviceVerdict::OthersDevice;
    QTest::newRow("root uses an operator's terminal")
        << dev << 136u << 7u << false << Operator << true << RootUserId
        << DeviceVerdict::OthersDevice;
    QTest::newRow("regression: /dev/tty") << dev << 5u << 0u << false << RootUserId << true
                                          << Operator << DeviceVerdict::ProgramsTerminal;
    QTest::newRow("regression: /dev/console") << dev << 5u << 1u << false << RootUserId << true
                                              << Operator << DeviceVerdict::ProgramsTerminal;
    QTest::newRow("regression: /dev/ptmx") << dev << 5u << 2u << false << RootUserId << true
                                           << Operator << DeviceVerdict::ProgramsTerminal;
    QTest::newRow("regression: a virtual console (tty1)")
        << dev << 4u << 1u << false << RootUserId << true << Operator
        << DeviceVerdict::NotASerialPort;
    QTest::newRow("regression: /dev/null") << dev << 1u << 3u << false << RootUserId << true
                                           << Operator << DeviceVerdict::NotASerialPort;
    QTest::newRow("regular file") << Kind::Regular << 0u << 0u << false << Operator << true
                                  << Operator << DeviceVerdict::NotADevice;
    QTest::newRow("FIFO") << Kind::Fifo << 0u << 0u << false << Operator << true << Operator
                          << DeviceVerdict::NotADevice;
    QTest::newRow("block device") << Kind::BlockDevice << 8u << 0u << false << RootUserId << true
                                  << Operator << DeviceVerdict::NotADevice;
}

void tst_SafeFile::deviceRule()
{
    QFETCH(Kind, kind);
    QFETCH(unsigned, major);
    QFETCH(unsigned, minor);
    QFETCH(bool, hardware);
    QFETCH(UserId, owner);
    QFETCH(bool, linksTrusted);
    QFETCH(UserId, runner);
    QFETCH(DeviceVerdict, verdict);
    const safefile::PortDevice device { kind, major, minor, hardware, owner, linksTrusted };
    QCOMPARE(safefile::portDeviceVerdict(device, runner), verdict);
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

    const Result<int> append = safefile::openForAppend(path);
    const Result<int> read = safefile::openForReading(path);
    if (reader >= 0)
        ::close(reader);
    if (sock >= 0)
        ::close(sock);
    QVERIFY(!append.ok());
    QCOMPARE(append.reason(), reason);
    QVERIFY(!read.ok());
    QCOMPARE(read.reason(), reason);
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
    const Result<int> opened = safefile::openForAppend(link);
    QVERIFY2(opened.ok(), qPrintable(opened.reason()));
    QCOMPARE(::write(opened.value(), "new\r\n", 5), ssize_t(5));
    ::close(opened.value());
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
    QCOMPARE(safefile::openForAppend(link).reason(), reason);
    QCOMPARE(safefile::openForReading(link).reason(), reason);
    QCOMPARE(QFileInfo::exists(target), targetExists);
    if (targetExists)
        QCOMPARE(contents(target), QByteArray("PATH=x\n"));

    // Replacing the settings file replaces the link, never its target.
    QVERIFY(safefile::replaceFile(link, "[System]\r\nComPort=1\r\n").ok());
    QVERIFY(!QFileInfo(link).isSymLink());
    QCOMPARE(contents(link), QByteArray("[System]\r\nComPort=1\r\n"));
    QCOMPARE(QFileInfo::exists(target), targetExists);
    if (targetExists)
        QCOMPARE(contents(target), QByteArray("PATH=x\n"));
}

void tst_SafeFile::linksOnTheWay_data()
{
    QTest::addColumn<QString>("layout");
    QTest::addColumn<bool>("followed");
    QTest::addColumn<bool>("needsRoot");
    QTest::newRow("own link to a folder on the way") << u"own folder link"_s << true << false;
    // The victim logs to runs/run.csv, a folder of his own; the other
    // operator moves it aside and puts there a link to a folder of his, in
    // which run.csv leads to the victim's .bashrc.
    QTest::newRow("regression: another operator's link to his folder on the way")
        << u"others folder link"_s << false << true;
    QTest::newRow("regression: another operator's link in his own folder")
        << u"others link in his folder"_s << false << true;
    QTest::newRow("root's link in another operator's folder")
        << u"roots link in his folder"_s << true << true;
}

// Every name of the path is judged, not only the last: a link is followed
// only when the running user or root made it.
void tst_SafeFile::linksOnTheWay()
{
    QFETCH(QString, layout);
    QFETCH(bool, followed);
    QFETCH(bool, needsRoot);
    if (needsRoot && !asRoot())
        QSKIP("needs root to give a link or a folder to another user (the rule itself: linkRule)");
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString bashrc = dir.filePath(u"bashrc"_s);
    QVERIFY(writeFile(bashrc, "alias ls='ls -F'\n"));
    const QString theirs = dir.filePath(u"theirs"_s);
    QVERIFY(QDir(dir.path()).mkdir(u"theirs"_s));
    QString path;
    QString target = bashrc; // where a followed path leads
    if (layout == u"own folder link") {
        QVERIFY(QDir(dir.path()).mkdir(u"real"_s));
        target = dir.filePath(u"real/run.csv"_s);
        QVERIFY(writeFile(target, "old\r\n"));
        QVERIFY(makeLink(u"real"_s, dir.filePath(u"runs"_s), ::geteuid()));
        path = dir.filePath(u"runs/run.csv"_s);
    } else {
        QVERIFY(::chown(QFile::encodeName(theirs).constData(), Other, gid_t(-1)) == 0);
        const UserId linkOwner = layout == u"roots link in his folder" ? RootUserId : Other;
        QVERIFY(makeLink(bashrc, theirs + u"/run.csv"_s, linkOwner));
        path = theirs + u"/run.csv"_s;
        if (layout == u"others folder link") {
            QVERIFY(makeLink(theirs, dir.filePath(u"runs"_s), Other));
            path = dir.filePath(u"runs/run.csv"_s);
        }
    }
    const QByteArray before = contents(target);

    const Result<int> append = safefile::openForAppend(path);
    if (append.ok()) {
        QCOMPARE(::write(append.value(), "new\r\n", 5), ssize_t(5));
        ::close(append.value());
    }
    const Result<int> read = safefile::openForReading(path);
    if (read.ok())
        ::close(read.value());
    if (followed) {
        QVERIFY2(append.ok(), qPrintable(append.reason()));
        QVERIFY2(read.ok(), qPrintable(read.reason()));
        QCOMPARE(contents(target), before + "new\r\n");
        return;
    }
    QVERIFY(!append.ok());
    QVERIFY(!read.ok());
    QVERIFY2(append.reason().contains(safefile::userName(Other)), qPrintable(append.reason()));
    QCOMPARE(read.reason(), append.reason());
    QVERIFY(safefile::refusedLink(path) == append.reason());
    // A settings file there is neither written through nor read.
    (void)safefile::replaceFile(path, "[System]\r\nComPort=1\r\n");
    QCOMPARE(contents(bashrc), before);
}

void tst_SafeFile::hardLinkIsRefused_data()
{
    QTest::addColumn<QString>("use");
    QTest::newRow("regression: readings appended to another file's second name") << u"append"_s;
    QTest::newRow("regression: settings read from a private file's second name") << u"read"_s;
    QTest::newRow("regression: settings rewritten over a private file's second name")
        << u"replace"_s;
}

// Another operator gives the victim's file a second name where the program
// looks (where protected_hardlinks is off, anyone may): one file with two
// names is not used.
void tst_SafeFile::hardLinkIsRefused()
{
    QFETCH(QString, use);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString secret = dir.filePath(u"private"_s);
    QVERIFY(writeFile(secret, "password=x\n"));
    QVERIFY(::chmod(QFile::encodeName(secret).constData(), 0600) == 0);
    const QString path = dir.filePath(use == u"append" ? u"Default.csv"_s : u"Settings.ini"_s);
    QVERIFY(
        ::link(QFile::encodeName(secret).constData(), QFile::encodeName(path).constData()) == 0);

    QString reason;
    if (use == u"replace") {
        const Result<void> result = safefile::replaceFile(path, "[System]\r\nComPort=1\r\n");
        QVERIFY(!result.ok());
        reason = result.reason();
        struct stat st;
        QVERIFY(::stat(QFile::encodeName(path).constData(), &st) == 0);
        QCOMPARE(st.st_nlink, nlink_t(2));
    } else {
        const Result<int> opened
            = use == u"append" ? safefile::openForAppend(path) : safefile::openForReading(path);
        if (opened.ok())
            ::close(opened.value());
        QVERIFY(!opened.ok());
        reason = opened.reason();
    }
    QCOMPARE(reason, safefile::hardLinkText(2));
    QCOMPARE(contents(secret), QByteArray("password=x\n"));
    QCOMPARE(modeOf(secret) & 07777, 0600u);
}

void tst_SafeFile::rewriteDisclosesNoMore_data()
{
    QTest::addColumn<int>("oldMode");
    QTest::addColumn<bool>("ownGroup"); // the old file's group is the folder's
    QTest::newRow("regression: a private group's file under a set-group-ID folder")
        << 0640 << false;
    QTest::newRow("regression: a private group's file, group-writable") << 0660 << false;
    QTest::newRow("the owner's alone, in a private group") << 0600 << false;
    QTest::newRow("the folder's group keeps its rights, the owner his file") << 0664 << true;
}

// The rewritten settings file is readable by exactly whom the old one was:
// its group and mode are kept, owner too when root rewrites it.
void tst_SafeFile::rewriteDisclosesNoMore()
{
    QFETCH(int, oldMode);
    QFETCH(bool, ownGroup);
    if (!asRoot())
        QSKIP("needs root to give files and folders to other users and groups");
    constexpr gid_t SharedGroup = 54322;
    constexpr gid_t PrivateGroup = 54323;
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QByteArray folder = QFile::encodeName(dir.path());
    QVERIFY(::chown(folder.constData(), 0, SharedGroup) == 0);
    QVERIFY(::chmod(folder.constData(), 02775) == 0);
    const QString path = dir.filePath(u"Settings.ini"_s);
    const QByteArray name = QFile::encodeName(path);
    QVERIFY(writeFile(path, "[System]\r\nComPort=\r\n"));
    const gid_t group = ownGroup ? SharedGroup : PrivateGroup;
    QVERIFY(::chown(name.constData(), Other, group) == 0);
    QVERIFY(::chmod(name.constData(), mode_t(oldMode)) == 0);

    const Result<void> result = safefile::replaceFile(path, "[System]\r\nComPort=1\r\n");
    QVERIFY2(result.ok(), qPrintable(result.reason()));
    QCOMPARE(contents(path), QByteArray("[System]\r\nComPort=1\r\n"));
    struct stat st;
    QVERIFY(::lstat(name.constData(), &st) == 0);
    QCOMPARE(st.st_gid, group);
    QCOMPARE(st.st_mode & 07777, unsigned(oldMode));
    QCOMPARE(st.st_uid, uid_t(Other));
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
        const Result<int> opened = safefile::openForAppend(log);
        QVERIFY2(opened.ok(), qPrintable(opened.reason()));
        ::close(opened.value());
        QVERIFY(safefile::replaceFile(settings, "[System]\r\nComPort=1\r\n").ok());
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
    const Result<void> result = safefile::replaceFile(path, bytes);
    QVERIFY2(result.ok(), qPrintable(result.reason()));
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

    QVERIFY(!safefile::replaceFile(path, "[System]\r\nComPort=1\r\n").ok());
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
    const Result<void> result = safefile::replaceFile(path, "[System]\r\nComPort=1\r\n");
    ::chmod(folder.constData(), 0755);
    QVERIFY2(result.ok(), qPrintable(result.reason()));
    QCOMPARE(contents(path), QByteArray("[System]\r\nComPort=1\r\n"));
}

void tst_SafeFile::port_data()
{
    QTest::addColumn<QString>("what");
    QTest::addColumn<bool>("used");
    QTest::newRow("own pseudo-terminal") << u"own pty"_s << true;
    QTest::newRow("regression: a system device that is no serial port, /dev/null")
        << u"null"_s << false;
    QTest::newRow("regression: another user's pseudo-terminal") << u"other pty"_s << false;
    QTest::newRow("regular file") << u"file"_s << false;
    // Opened as the board, these would hand the shared log whatever is
    // typed at a terminal, and a new pseudo-terminal's master.
    QTest::newRow("regression: /dev/ptmx") << u"/dev/ptmx"_s << false;
    QTest::newRow("regression: /dev/tty, the program's own terminal") << u"/dev/tty"_s << false;
    QTest::newRow("regression: /dev/console") << u"/dev/console"_s << false;
    // The victim's own terminal or simulator, linked as com1 by someone else.
    QTest::newRow("regression: own pseudo-terminal through another operator's link")
        << u"own pty, others link"_s << false;
    QTest::newRow("own pseudo-terminal through root's link") << u"own pty, roots link"_s << true;
    QTest::newRow("serial port with a device behind it, /dev/ttyS0") << u"/dev/ttyS0"_s << true;
}

void tst_SafeFile::port()
{
    QFETCH(QString, what);
    QFETCH(bool, used);
    if ((what == u"other pty" || what.contains(u"link")) && !asRoot())
        QSKIP("needs root to give a terminal or a link to another user (the rule itself: "
              "deviceRule)");
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    int master = -1;
    QString device;
    UserId linkOwner = ::geteuid();
    if (what.contains(u"pty")) {
        master = ::posix_openpt(O_RDWR | O_NOCTTY);
        QVERIFY(master >= 0);
        QVERIFY(::grantpt(master) == 0 && ::unlockpt(master) == 0);
        device = QString::fromLocal8Bit(::ptsname(master));
        if (what == u"other pty")
            QVERIFY(::chown(QFile::encodeName(device).constData(), Other, gid_t(-1)) == 0);
        if (what.endsWith(u"others link"))
            linkOwner = Other;
        else if (what.endsWith(u"roots link"))
            linkOwner = RootUserId;
    } else if (what == u"null") {
        device = u"/dev/null"_s;
    } else if (what.startsWith(u"/dev/")) {
        device = what;
    } else {
        device = dir.filePath(u"plain"_s);
        QVERIFY(writeFile(device, "x"));
    }
    const QString link = dir.filePath(u"com1"_s);
    QVERIFY(makeLink(device, link, linkOwner));

    QString refused;
    if (what == u"/dev/tty") {
        refused = refusedWithOwnTerminal(link);
    } else {
        const int fd = ::open(QFile::encodeName(link).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        if (fd < 0 && what.startsWith(u"/dev/")) {
            // No UART, or not root: nothing to judge.
            QSKIP(qPrintable(what + u": "_s + QString::fromLocal8Bit(std::strerror(errno))));
        }
        QVERIFY(fd >= 0);
        refused = safefile::refusedPort(fd, link);
        ::close(fd);
    }
    // The same rule for a port not opened, as a list of candidates needs it.
    const QString unopened = safefile::refusedPort(-1, link);
    if (master >= 0)
        ::close(master);
    QCOMPARE(refused.isEmpty(), used);
    QCOMPARE(unopened.isEmpty(), used);
    if (!used) {
        QVERIFY2(refused.contains(device), qPrintable(refused));
        QVERIFY2(unopened.contains(device), qPrintable(unopened));
    }
}

QTEST_GUILESS_MAIN(tst_SafeFile)
#include "tst_safefile.moc"
