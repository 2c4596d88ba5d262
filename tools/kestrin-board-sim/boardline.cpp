// SPDX-License-Identifier: MIT
#include "boardline.h"

#include "messages.h"
#include "tools/pseudoterminal/pseudoterminal.h"

#include <QFile>
#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace boardsim {

namespace {

bool makeParentFolders(const QByteArray& path)
{
    for (qsizetype slash = path.indexOf('/', 1); slash >= 0; slash = path.indexOf('/', slash + 1)) {
        if (::mkdir(path.left(slash).constData(), 0777) != 0 && errno != EEXIST)
            return false;
    }
    return true;
}

} // namespace

BoardLine::~BoardLine()
{
    if (m_linkMade) {
        // Only our own link: another board may have taken the path over since.
        const QByteArray link = QFile::encodeName(m_path);
        char target[4096];
        const ssize_t length = ::readlink(link.constData(), target, sizeof target);
        if (length > 0 && QByteArrayView(target, length) == m_slavePath)
            ::unlink(link.constData());
    }
    for (const int fd : { m_slave, m_port }) {
        if (fd >= 0)
            ::close(fd);
    }
}

std::unique_ptr<BoardLine> BoardLine::openLink(const QString& linkPath)
{
    std::unique_ptr<BoardLine> line(new BoardLine);
    line->m_path = linkPath;
    if (!line->openPseudoTerminal() || !line->makeLink())
        return nullptr;
    return line;
}

bool BoardLine::openPseudoTerminal()
{
    std::string failure;
    const PseudoTerminal terminal = ::openPseudoTerminal(&failure);
    if (terminal.master < 0) {
        say(whatFailed(QFile::decodeName(QByteArray::fromStdString(failure))));
        return false;
    }
    m_port = terminal.master;
    m_slave = terminal.device;
    m_slavePath = QByteArray::fromStdString(terminal.devicePath);
    return true;
}

bool BoardLine::makeLink()
{
    const QByteArray path = QFile::encodeName(m_path);
    struct stat st
    {
    };
    if (::lstat(path.constData(), &st) == 0 && !S_ISLNK(st.st_mode)) {
        say(u"%1 exists and is not a symbolic link; not replacing it"_s.arg(m_path));
        return false;
    }
    if (!makeParentFolders(path)) {
        say(whatFailed(u"cannot create the folder of %1"_s.arg(m_path)));
        return false;
    }
    // Made aside and renamed over the old link, so the path never dangles.
    const QByteArray temporary = path + ".new-" + QByteArray::number(::getpid());
    ::unlink(temporary.constData());
    if (::symlink(m_slavePath.constData(), temporary.constData()) != 0
        || ::rename(temporary.constData(), path.constData()) != 0) {
        say(whatFailed(u"cannot make the link %1"_s.arg(m_path)));
        ::unlink(temporary.constData());
        return false;
    }
    m_linkMade = true;
    return true;
}

std::unique_ptr<BoardLine> BoardLine::openDevice(const QString& devicePath)
{
    std::unique_ptr<BoardLine> line(new BoardLine);
    line->m_path = devicePath;
    line->m_port = ::open(
        QFile::encodeName(devicePath).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (line->m_port < 0) {
        say(whatFailed(devicePath));
        return nullptr;
    }
    termios tio {};
    if (::tcgetattr(line->m_port, &tio) != 0) {
        say(whatFailed(u"%1 is not a serial device"_s.arg(devicePath)));
        return nullptr;
    }
    ::cfmakeraw(&tio);
    tio.c_cflag &= ~static_cast<tcflag_t>(CSTOPB | PARENB | CRTSCTS | CSIZE);
    tio.c_cflag |= CS8 | CLOCAL | CREAD;
    tio.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY);
    tio.c_cc[VMIN] = 1;
    tio.c_cc[VTIME] = 0;
    ::cfsetispeed(&tio, B9600);
    ::cfsetospeed(&tio, B9600);
    if (::tcsetattr(line->m_port, TCSANOW, &tio) != 0) {
        say(whatFailed(u"cannot set %1 to 9600 8N1"_s.arg(devicePath)));
        return nullptr;
    }
    ::tcflush(line->m_port, TCIOFLUSH);
    return line;
}

QString BoardLine::description() const
{
    return isPseudoTerminal() ? u"%1 -> %2"_s.arg(m_path, QFile::decodeName(m_slavePath)) : m_path;
}

void BoardLine::dropUnreadInput()
{
    if (m_slave >= 0)
        ::tcflush(m_slave, TCIFLUSH);
}

bool BoardLine::allRead()
{
    if (m_slave < 0) {
        ::tcdrain(m_port);
        return true;
    }
    // FIONREAD alone misses bytes still on their way into the slave's input
    // queue; a poll of the slave pushes them through first.
    pollfd slave { m_slave, POLLIN, 0 };
    if (::poll(&slave, 1, 0) > 0 && (slave.revents & POLLIN))
        return false;
    int waiting = 0;
    return !(::ioctl(m_slave, FIONREAD, &waiting) == 0 && waiting > 0);
}

} // namespace boardsim
