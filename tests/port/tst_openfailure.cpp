// SPDX-License-Identifier: MIT
// A port that another program holds is "in use", named after that program
// where its lock file says; a port the user may not open is a permission
// problem. The other program is the real Tarvik, started from a folder of
// its own with a com1 link to a pseudo-terminal.

#include "port/boardport.h"
#include "ptyboard.h"

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

bool isRoot()
{
    return ::geteuid() == 0;
}

// What a program run by a normal user is told when it opens `portName`
// ("opened" when it could). Run as root, the probe runs as "nobody": root
// itself passes both the exclusive open and the device's permissions.
QString openAsNormalUser(const QString& portName)
{
    if (!isRoot()) {
        BoardPort port;
        const Result<void> opened = port.open(portName);
        return opened ? u"opened"_s : opened.reason();
    }
    const passwd* nobody = ::getpwnam("nobody");
    if (!nobody)
        return u"no user nobody"_s;
    const uid_t uid = nobody->pw_uid;
    const gid_t gid = nobody->pw_gid;
    QProcess probe;
    probe.setChildProcessModifier([uid, gid] {
        if (::setgroups(0, nullptr) != 0 || ::setgid(gid) != 0 || ::setuid(uid) != 0)
            ::_exit(3);
    });
    probe.start(qEnvironmentVariable("TARVIK_OPEN_PROBE"), { portName });
    if (!probe.waitForFinished(20000))
        return u"probe did not end"_s;
    return QString::fromLocal8Bit(probe.readAllStandardOutput()).trimmed();
}

} // namespace

class tst_OpenFailure : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void cleanupTestCase();

    void lockedByASecondTarvikNamesIt();
    void sameDeviceThroughAnotherNameIsInUse();
    void deviceWithoutPermission();
    void ownTerminalByItsDevicePath();

private:
    QTemporaryDir m_dir;
    PtyBoard m_board;
    QProcess m_first;
};

void tst_OpenFailure::initTestCase()
{
    QVERIFY(m_dir.isValid());
    QVERIFY(m_board.isValid());
    // Another user's probe must reach the links and the device.
    QVERIFY(QFile::setPermissions(m_dir.path(),
        QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadGroup | QFile::ExeGroup
            | QFile::ReadOther | QFile::ExeOther));
    QVERIFY(::chmod(m_board.devicePath().toLocal8Bit().constData(), 0666) == 0);

    // The first Tarvik, run from its own folder, holds com1.
    const QString exe = m_dir.filePath(u"tarvik"_s);
    QVERIFY(QFile::copy(qEnvironmentVariable("TARVIK_EXECUTABLE"), exe));
    QVERIFY(m_board.linkAt(m_dir.filePath(u"com1"_s)));
    m_first.setProcessChannelMode(QProcess::ForwardedChannels);
    m_first.start(exe, {});
    QVERIFY(m_first.waitForStarted());
    const QString csv = m_dir.filePath(u"Default.csv"_s);
    QTRY_VERIFY_WITH_TIMEOUT(m_board.send("<KS1*\r\n") && QFile::exists(csv), 20000);
}

void tst_OpenFailure::cleanupTestCase()
{
    if (m_first.state() != QProcess::NotRunning) {
        ::kill(pid_t(m_first.processId()), SIGTERM);
        m_first.waitForFinished(20000);
    }
}

void tst_OpenFailure::lockedByASecondTarvikNamesIt()
{
    // A second copy started from the same folder: refused at the lock file,
    // which names the first.
    const QString expected
        = u"in use by another program (tarvik, process %1)"_s.arg(m_first.processId());
    BoardPort port;
    const Result<void> opened = port.open(m_dir.filePath(u"com1"_s));
    QVERIFY(!opened);
    QCOMPARE(opened.reason(), expected);
    QCOMPARE(openAsNormalUser(m_dir.filePath(u"com1"_s)), expected);
}

void tst_OpenFailure::sameDeviceThroughAnotherNameIsInUse()
{
    // The lock file is named after the link, so a second name for the same
    // device passes it; the device's exclusive open (TIOCEXCL) refuses the
    // second program then, except when root runs it.
    const QString other = m_dir.filePath(u"com2"_s);
    QVERIFY(QFile::link(m_board.devicePath(), other));

    QVERIFY(openAsNormalUser(other).startsWith(u"in use by another program"_s));

    BoardPort port;
    const Result<void> opened = port.open(other);
    if (isRoot()) {
        // Root passes the exclusive open: a second program run by root
        // shares the port with the first.
        QVERIFY2(opened, qPrintable(opened.reason()));
    } else {
        // The same user's programs can be looked into: the holder is named.
        QVERIFY(!opened);
        QCOMPARE(opened.reason(),
            u"in use by another program (tarvik, process %1)"_s.arg(m_first.processId()));
    }
}

void tst_OpenFailure::deviceWithoutPermission()
{
    // A device that the user may not open and that nobody holds: a
    // permission problem, not "in use".
    PtyBoard board;
    QVERIFY(board.isValid());
    const QString link = m_dir.filePath(u"com3"_s);
    QVERIFY(board.linkAt(link));
    QVERIFY(::chmod(board.devicePath().toLocal8Bit().constData(), isRoot() ? 0600 : 0000) == 0);
    const QString result = openAsNormalUser(link);
    QVERIFY2(result.startsWith(u"no permission to open the port"_s), qPrintable(result));
}

void tst_OpenFailure::ownTerminalByItsDevicePath()
{
    // No link: the port is named /dev/pts/N, which the serial port shortens
    // to "pts/N". The rule must judge the name the port was opened by.
    PtyBoard board;
    QVERIFY(board.isValid());
    BoardPort port;
    const Result<void> opened = port.open(board.devicePath());
    QVERIFY2(opened, qPrintable(opened.reason()));
}

QTEST_GUILESS_MAIN(tst_OpenFailure)
#include "tst_openfailure.moc"
