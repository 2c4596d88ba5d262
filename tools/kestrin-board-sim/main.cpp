// kestrin-board-sim: plays the encoder board on a pseudo-terminal or a serial
// device. One thread, one poll loop: received bytes, the terminal, signals and
// opens of the pseudo-terminal by the other side all wake the same ppoll().

#include "boardmodel.h"
#include "core/lineassembler.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <algorithm>
#include <cerrno>
#include <charconv>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <poll.h>
#include <string>
#include <string_view>
#include <sys/inotify.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>
#include <vector>

using namespace Qt::StringLiterals;

namespace {

constexpr const char* HelpText = R"(Usage: kestrin-board-sim (--link PATH | --device PATH) [options]

Plays the encoder board on a serial line, so that the Tarvik data logger can be
tried, demonstrated and tested without hardware.

Where the board sits (exactly one is required):
  --link PATH              Open a pseudo-terminal and make PATH a symbolic link
                           to it (an existing link there is replaced, missing
                           folders are created). For ComPort=N the logger
                           looks for comN in its data folder, so use e.g.
                           --link )" TARVIK_DATA_HINT R"(/com1.
                           The link is removed when the board ends.
  --device PATH            Use a real serial device instead (9600 baud, 8N1,
                           raw, no flow control), e.g. a null-modem cable.

What the board does:
  --motion still|drift     still: both encoders stay at 0.000 mm. drift
                           (default): encoder 1 moves 0.125 mm and encoder 2
                           0.250 mm per second from 0.000 at start.
  --inputs FLAGS           Initial inputs as the six flags of the "<IN" reply:
                           Aux 2 first, A. Accept last (default 000000).
  --reading-interval SECONDS
                           Send a reading ("<KS" and encoder 1's position)
                           every SECONDS; fractions allowed; 0 (the default)
                           sends none.
  --burst N                Send N readings back to back carrying 1.000, 2.000,
                           ... N.000 in that order, once the other side has
                           opened the link (with --device: at start).
  --burst-delay SECONDS    Wait this long before the burst (default 0).
  --exit-after-burst       End once the other side has read the whole burst.

How it talks:
  --line-end crlf|lfcr|cr  How every line sent ends (default crlf).
  --closing-char C         The character closing every value reply (default *).
  --no-pace                Send at full speed instead of the line's 9600 baud
                           8N1 (960 characters a second).

Watching it:
  --transcript FILE        Record every line received as "MS LINE", MS being
                           milliseconds since 1970-01-01 00:00 UTC with three
                           decimals, e.g. "1733563200123.456 ?CTR3"; written
                           line by line as they arrive. Control characters
                           are written as \xNN and a backslash as \\.
  --verbose                Also show every line received and sent, lines the
                           board does not know, and replies and readings
                           dropped because nobody had the link open.
  -h, --help               Show this help and end.
  --version                Show the version and end.

The board answers "?CTR3" and "?CTR4" with "<C3"/"<C4" and the position with
three decimals, "?SCALE3" and "?SCALE4" with "<S3"/"<S4" and the scale factor
x 100 as six hex digits, "?INPUTS" with "<IN" and six flags; each value reply
ends with the closing character. It obeys "CTR3=0" and "CTR4=0" (the position
becomes 0), "SCALE3=" and "SCALE4=" (the factor is taken from field A; a field B
other than the one the factor gives is reported here), and shows the verdict of
"MESS=1" and "MESS=0". Both scale factors start at 2540.12. Lines received end
at CR; LF is dropped. While nobody has the link open, replies and readings are
dropped, as on a real line with nothing attached.

Keys at the board's terminal (type, then Enter):
  Enter alone   send a reading (encoder 1's position)
  1 to 6        toggle input 1 A. Accept, 2 B. Accept, 3 End of Board, 4 Zero,
                5 Aux 1 or 6 Aux 2 ("15" toggles two)
  s             show positions, scale factors and inputs
  h             show these keys
  q             end the board, as Ctrl-C does
When its standard input ends (e.g. </dev/null) the board keeps running.
SIGINT, SIGTERM and SIGHUP end it and remove the link. Exit status: 0, 1 on
failure, 2 for a wrong command line.
)";

constexpr const char* KeyHelp = "keys (then Enter): Enter alone = send a reading, 1-6 = toggle "
                                "input (1 A. Accept, 2 B. Accept, 3 End of Board, 4 Zero, 5 Aux "
                                "1, 6 Aux 2), s = show state, h = these keys, q = end";

constexpr double CharSeconds = 10.0 / 9600.0; // start bit, 8 data bits, stop bit

int g_signalPipe[2] = { -1, -1 };

void onSignal(int signal)
{
    const int saved = errno;
    const char byte = static_cast<char>(signal);
    [[maybe_unused]] const auto written = ::write(g_signalPipe[1], &byte, 1);
    errno = saved;
}

double monotonicSeconds()
{
    timespec ts {};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

void say(const QString& text)
{
    QByteArray bytes = "kestrin-board-sim: " + text.toUtf8();
    bytes.append('\n');
    [[maybe_unused]] const auto written = ::write(STDERR_FILENO, bytes.constData(), bytes.size());
}

QString systemError(const QString& what)
{
    return u"%1: %2"_s.arg(what, QString::fromLocal8Bit(std::strerror(errno)));
}

// Lines as they appear in the transcript and on the terminal.
QByteArray escaped(QByteArrayView bytes)
{
    QByteArray out;
    for (const char c : bytes) {
        const auto u = static_cast<unsigned char>(c);
        if (c == '\\') {
            out.append("\\\\");
        } else if (u < 0x20 || u == 0x7f) {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02X", u);
            out.append(hex);
        } else {
            out.append(c);
        }
    }
    return out;
}

bool parseSeconds(std::string_view text, double& seconds)
{
    const auto result = std::from_chars(text.data(), text.data() + text.size(), seconds);
    return result.ec == std::errc() && result.ptr == text.data() + text.size() && seconds >= 0.0
        && seconds < 1e9;
}

bool parseCount(std::string_view text, long& count)
{
    const auto result = std::from_chars(text.data(), text.data() + text.size(), count);
    return result.ec == std::errc() && result.ptr == text.data() + text.size() && count >= 0;
}

struct Settings
{
    std::string linkPath;
    std::string devicePath;
    std::string transcriptPath;
    BoardModel::Options board;
    double readingInterval = 0.0;
    long burst = 0;
    double burstDelay = 0.0;
    bool exitAfterBurst = false;
    bool pace = true;
    bool verbose = false;
};

int usageError(const std::string& message)
{
    std::fprintf(
        stderr, "kestrin-board-sim: %s\nTry 'kestrin-board-sim --help'.\n", message.c_str());
    return 2;
}

// Returns -1 to go on, otherwise the exit status.
int parseArguments(int argc, char** argv, Settings& settings)
{
    for (int i = 1; i < argc; ++i) {
        std::string_view arg = argv[i];
        std::string_view value;
        bool hasValue = false;
        if (arg.starts_with("--")) {
            if (const auto eq = arg.find('='); eq != std::string_view::npos) {
                value = arg.substr(eq + 1);
                arg = arg.substr(0, eq);
                hasValue = true;
            }
        }
        const auto takeValue = [&](std::string_view& out) {
            if (hasValue) {
                out = value;
                return true;
            }
            if (i + 1 >= argc)
                return false;
            out = argv[++i];
            return true;
        };
        const auto needValue = [&](std::string_view& out) {
            if (!takeValue(out)) {
                usageError("option " + std::string(arg) + " needs a value");
                return false;
            }
            return true;
        };
        const auto noValue = [&]() {
            if (hasValue) {
                usageError("option " + std::string(arg) + " takes no value");
                return false;
            }
            return true;
        };

        std::string_view v;
        if (arg == "-h" || arg == "--help") {
            std::fputs(HelpText, stdout);
            return 0;
        } else if (arg == "--version") {
            std::fputs("kestrin-board-sim (Tarvik) " TARVIK_VERSION "\n", stdout);
            return 0;
        } else if (arg == "--link") {
            if (!needValue(v))
                return 2;
            settings.linkPath = v;
        } else if (arg == "--device") {
            if (!needValue(v))
                return 2;
            settings.devicePath = v;
        } else if (arg == "--transcript") {
            if (!needValue(v))
                return 2;
            settings.transcriptPath = v;
        } else if (arg == "--motion") {
            if (!needValue(v))
                return 2;
            if (v == "still")
                settings.board.motion = BoardModel::Motion::Still;
            else if (v == "drift")
                settings.board.motion = BoardModel::Motion::Drift;
            else
                return usageError("--motion takes still or drift");
        } else if (arg == "--line-end") {
            if (!needValue(v))
                return 2;
            if (v == "crlf")
                settings.board.lineEnd = BoardModel::LineEnd::CrLf;
            else if (v == "lfcr")
                settings.board.lineEnd = BoardModel::LineEnd::LfCr;
            else if (v == "cr")
                settings.board.lineEnd = BoardModel::LineEnd::Cr;
            else
                return usageError("--line-end takes crlf, lfcr or cr");
        } else if (arg == "--closing-char") {
            if (!needValue(v))
                return 2;
            // A CR or LF would end the reply early; anything printable will do.
            if (v.size() != 1 || v[0] < 0x21 || v[0] > 0x7e)
                return usageError("--closing-char takes one printable ASCII character");
            settings.board.closing = v[0];
        } else if (arg == "--inputs") {
            if (!needValue(v))
                return 2;
            if (v.size() != 6 || v.find_first_not_of("01") != std::string_view::npos)
                return usageError("--inputs takes six flags 0 or 1, Aux 2 first");
            for (int number = 1; number <= 6; ++number)
                settings.board.inputs[number - 1] = v[6 - number] == '1';
        } else if (arg == "--reading-interval") {
            if (!needValue(v))
                return 2;
            if (!parseSeconds(v, settings.readingInterval))
                return usageError("--reading-interval takes seconds, e.g. 2 or 0.5");
        } else if (arg == "--burst") {
            if (!needValue(v))
                return 2;
            if (!parseCount(v, settings.burst) || settings.burst > 1000000)
                return usageError("--burst takes a count from 0 to 1000000");
        } else if (arg == "--burst-delay") {
            if (!needValue(v))
                return 2;
            if (!parseSeconds(v, settings.burstDelay))
                return usageError("--burst-delay takes seconds, e.g. 0.5");
        } else if (arg == "--exit-after-burst") {
            if (!noValue())
                return 2;
            settings.exitAfterBurst = true;
        } else if (arg == "--no-pace") {
            if (!noValue())
                return 2;
            settings.pace = false;
        } else if (arg == "--verbose") {
            if (!noValue())
                return 2;
            settings.verbose = true;
        } else {
            return usageError("unknown argument " + std::string(arg));
        }
    }
    if (settings.linkPath.empty() == settings.devicePath.empty())
        return usageError("give exactly one of --link PATH and --device PATH");
    if (settings.exitAfterBurst && settings.burst == 0)
        return usageError("--exit-after-burst needs --burst N");
    return -1;
}

bool makeParentFolders(const std::string& path)
{
    for (std::size_t slash = path.find('/', 1); slash != std::string::npos;
         slash = path.find('/', slash + 1)) {
        const std::string folder = path.substr(0, slash);
        if (::mkdir(folder.c_str(), 0777) != 0 && errno != EEXIST)
            return false;
    }
    return true;
}

class Simulator
{
public:
    explicit Simulator(const Settings& settings)
        : m_settings(settings)
        , m_model(settings.board)
    { }

    ~Simulator() { shutDown(); }

    bool start();
    int run();

private:
    bool openPseudoTerminal();
    bool openDevice();
    bool makeLink();
    void shutDown();

    double elapsed() const { return monotonicSeconds() - m_start; }
    bool peerPresent() const { return !m_peerDetect || m_peerOpens > 0; }

    void readPort();
    void readTerminal();
    void readPeerEvents();
    void handleLine(const QString& line);
    void handleKeys(const QByteArray& typed);
    void send(const QByteArray& line, bool fromTerminal);
    void sendReading(double value, bool fromTerminal);
    void writeDue(double now);
    void writeTranscript(const QString& line);
    bool burstFullyRead();
    void verbose(const QString& text)
    {
        if (m_settings.verbose)
            say(text);
    }

    Settings m_settings;
    BoardModel m_model;
    LineAssembler m_assembler;
    double m_start = monotonicSeconds();

    int m_port = -1; // pseudo-terminal master or serial device
    int m_slave = -1; // held open so the link never hangs up between opens
    int m_inotify = -1;
    int m_transcript = -1;
    std::string m_slavePath;
    bool m_linkMade = false;

    bool m_terminalOpen = true;
    QByteArray m_typed;

    // Who has the pseudo-terminal open besides us, from inotify opens and
    // closes of its slave device.
    bool m_peerDetect = false;
    int m_peerOpens = 0;
    bool m_peerEverOpened = false;

    QByteArray m_outQueue;
    double m_lineFreeAt = 0.0;
    bool m_waitWritable = false;

    double m_nextReading = 0.0;
    double m_burstAt = -1.0;
    bool m_burstSent = false;
    bool m_quit = false;
    bool m_failed = false;
};

bool Simulator::start()
{
    if (!(m_settings.devicePath.empty() ? openPseudoTerminal() : openDevice()))
        return false;
    if (!m_settings.transcriptPath.empty()) {
        m_transcript = ::open(
            m_settings.transcriptPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        if (m_transcript < 0) {
            say(systemError(QString::fromStdString(m_settings.transcriptPath)));
            return false;
        }
    }

    m_start = monotonicSeconds();
    if (m_settings.readingInterval > 0.0)
        m_nextReading = m_start + m_settings.readingInterval;
    if (m_settings.burst > 0 && !m_peerDetect)
        m_burstAt = m_start + m_settings.burstDelay;

    const char* lineEnd = m_settings.board.lineEnd == BoardModel::LineEnd::CrLf ? "CR LF"
        : m_settings.board.lineEnd == BoardModel::LineEnd::LfCr                 ? "LF CR"
                                                                                : "CR";
    const QString where = m_settings.devicePath.empty()
        ? u"%1 -> %2"_s.arg(
            QString::fromStdString(m_settings.linkPath), QString::fromStdString(m_slavePath))
        : QString::fromStdString(m_settings.devicePath);
    say(u"board on %1; motion %2, readings %3, lines end %4, closing '%5'%6"_s.arg(where)
            .arg(m_settings.board.motion == BoardModel::Motion::Still ? u"still"_s : u"drift"_s)
            .arg(m_settings.readingInterval > 0.0 ? u"every %1 s"_s.arg(m_settings.readingInterval)
                                                  : u"on Enter only"_s)
            .arg(QLatin1StringView(lineEnd))
            .arg(QLatin1Char(m_settings.board.closing))
            .arg(m_settings.pace ? QString() : u", unpaced"_s));
    for (const QString& line : m_model.stateText(0.0))
        say(line);
    if (::isatty(STDIN_FILENO))
        say(QString::fromLatin1(KeyHelp));
    return true;
}

bool Simulator::openPseudoTerminal()
{
    m_port = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (m_port < 0 || ::grantpt(m_port) != 0 || ::unlockpt(m_port) != 0) {
        say(systemError(u"cannot open a pseudo-terminal"_s));
        return false;
    }
    const char* name = ::ptsname(m_port);
    if (!name) {
        say(systemError(u"cannot name the pseudo-terminal"_s));
        return false;
    }
    m_slavePath = name;
    m_slave = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (m_slave < 0) {
        say(systemError(QString::fromStdString(m_slavePath)));
        return false;
    }
    // Raw on the program's side: no echo of requests back to the program, no
    // CR/LF translation of the replies.
    termios tio {};
    if (::tcgetattr(m_slave, &tio) == 0) {
        ::cfmakeraw(&tio);
        ::cfsetispeed(&tio, B9600);
        ::cfsetospeed(&tio, B9600);
        ::tcsetattr(m_slave, TCSANOW, &tio);
    }
    ::fcntl(m_port, F_SETFL, ::fcntl(m_port, F_GETFL) | O_NONBLOCK);

    // Watched only after our own open, so every open seen is the other side's.
    m_inotify = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (m_inotify >= 0
        && ::inotify_add_watch(m_inotify, name, IN_OPEN | IN_CLOSE | IN_MODIFY) >= 0) {
        m_peerDetect = true;
    } else {
        say(u"cannot watch opens of %1; sending whether or not the link is open"_s.arg(
            QString::fromStdString(m_slavePath)));
        if (m_inotify >= 0)
            ::close(m_inotify);
        m_inotify = -1;
    }
    return makeLink();
}

bool Simulator::makeLink()
{
    const std::string& path = m_settings.linkPath;
    struct stat st
    {
    };
    if (::lstat(path.c_str(), &st) == 0 && !S_ISLNK(st.st_mode)) {
        say(u"%1 exists and is not a symbolic link; not replacing it"_s.arg(
            QString::fromStdString(path)));
        return false;
    }
    if (!makeParentFolders(path)) {
        say(systemError(u"cannot create the folder of %1"_s.arg(QString::fromStdString(path))));
        return false;
    }
    // Made aside and renamed over the old link, so the path never dangles.
    const std::string temporary = path + ".new-" + std::to_string(::getpid());
    ::unlink(temporary.c_str());
    if (::symlink(m_slavePath.c_str(), temporary.c_str()) != 0
        || ::rename(temporary.c_str(), path.c_str()) != 0) {
        say(systemError(u"cannot make the link %1"_s.arg(QString::fromStdString(path))));
        ::unlink(temporary.c_str());
        return false;
    }
    m_linkMade = true;
    return true;
}

bool Simulator::openDevice()
{
    m_port = ::open(m_settings.devicePath.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (m_port < 0) {
        say(systemError(QString::fromStdString(m_settings.devicePath)));
        return false;
    }
    termios tio {};
    if (::tcgetattr(m_port, &tio) != 0) {
        say(systemError(
            u"%1 is not a serial device"_s.arg(QString::fromStdString(m_settings.devicePath))));
        return false;
    }
    ::cfmakeraw(&tio);
    tio.c_cflag &= ~static_cast<tcflag_t>(CSTOPB | PARENB | CRTSCTS | CSIZE);
    tio.c_cflag |= CS8 | CLOCAL | CREAD;
    tio.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY);
    tio.c_cc[VMIN] = 1;
    tio.c_cc[VTIME] = 0;
    ::cfsetispeed(&tio, B9600);
    ::cfsetospeed(&tio, B9600);
    if (::tcsetattr(m_port, TCSANOW, &tio) != 0) {
        say(systemError(
            u"cannot set %1 to 9600 8N1"_s.arg(QString::fromStdString(m_settings.devicePath))));
        return false;
    }
    ::tcflush(m_port, TCIOFLUSH);
    return true;
}

void Simulator::shutDown()
{
    if (m_linkMade) {
        // Only our own link: another board may have taken the path over since.
        char target[4096];
        const ssize_t length = ::readlink(m_settings.linkPath.c_str(), target, sizeof target);
        if (length > 0 && std::string_view(target, static_cast<std::size_t>(length)) == m_slavePath)
            ::unlink(m_settings.linkPath.c_str());
        m_linkMade = false;
    }
    for (int* fd : { &m_inotify, &m_slave, &m_port, &m_transcript }) {
        if (*fd >= 0)
            ::close(*fd);
        *fd = -1;
    }
}

void Simulator::writeTranscript(const QString& line)
{
    if (m_transcript < 0)
        return;
    timespec ts {};
    clock_gettime(CLOCK_REALTIME, &ts);
    const long long micros = static_cast<long long>(ts.tv_sec) * 1000000LL + ts.tv_nsec / 1000;
    char stamp[40];
    std::snprintf(stamp, sizeof stamp, "%lld.%03lld ", micros / 1000, micros % 1000);
    const QByteArray record = QByteArray(stamp) + escaped(line.toLatin1()) + '\n';
    if (::write(m_transcript, record.constData(), record.size()) != record.size())
        say(systemError(u"cannot write the transcript"_s));
}

void Simulator::send(const QByteArray& line, bool fromTerminal)
{
    if (!peerPresent()) {
        const QString text
            = u"nobody has the link open; not sent: %1"_s.arg(QString::fromLatin1(escaped(line)));
        if (fromTerminal)
            say(text);
        else
            verbose(text);
        return;
    }
    verbose(u"-> %1"_s.arg(QString::fromLatin1(escaped(line))));
    if (m_outQueue.isEmpty())
        m_lineFreeAt = std::max(m_lineFreeAt, monotonicSeconds());
    m_outQueue.append(line);
}

void Simulator::sendReading(double value, bool fromTerminal)
{
    send(m_model.readingLine(value), fromTerminal);
}

void Simulator::handleLine(const QString& line)
{
    writeTranscript(line);
    verbose(u"<- %1"_s.arg(QString::fromLatin1(escaped(line.toLatin1()))));
    const BoardModel::Outcome outcome = m_model.handleLine(line, elapsed());
    for (const QString& note : outcome.notes)
        say(note);
    if (!outcome.known)
        verbose(u"unknown line ignored: %1"_s.arg(QString::fromLatin1(escaped(line.toLatin1()))));
    for (const QByteArray& reply : outcome.replies)
        send(reply, false);
}

void Simulator::readPort()
{
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(m_port, buffer, sizeof buffer);
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
        say(n == 0 ? u"the serial device closed"_s : systemError(u"cannot read the port"_s));
        m_quit = m_failed = true;
        return;
    }
}

void Simulator::handleKeys(const QByteArray& typed)
{
    const QByteArray keys = typed.trimmed();
    if (keys.isEmpty()) {
        const double value = m_model.position(3, elapsed());
        sendReading(value, true);
        return;
    }
    if (keys == "q") {
        m_quit = true;
        return;
    }
    if (keys == "s") {
        for (const QString& line : m_model.stateText(elapsed()))
            say(line);
        return;
    }
    bool digits = true;
    for (const char c : keys) {
        if (c < '1' || c > '6')
            digits = false;
    }
    if (!digits) {
        say(QString::fromLatin1(KeyHelp));
        return;
    }
    for (const char c : keys) {
        const int number = c - '0';
        m_model.toggleInput(number);
        say(u"input %1 %2 %3"_s.arg(number)
                .arg(BoardModel::inputName(number))
                .arg(m_model.inputs()[number - 1] ? u"active"_s : u"inactive"_s));
    }
    say(u"inputs now %1"_s.arg(m_model.inputFlagText()));
}

void Simulator::readTerminal()
{
    char buffer[1024];
    const ssize_t n = ::read(STDIN_FILENO, buffer, sizeof buffer);
    if (n < 0 && (errno == EINTR || errno == EAGAIN))
        return;
    if (n <= 0) {
        // End of input (or a background job cut off from its terminal): the
        // board goes on without keys.
        m_terminalOpen = false;
        return;
    }
    m_typed.append(buffer, n);
    for (qsizetype newline = m_typed.indexOf('\n'); newline >= 0; newline = m_typed.indexOf('\n')) {
        const QByteArray typed = m_typed.left(newline);
        m_typed.remove(0, newline + 1);
        handleKeys(typed);
    }
}

void Simulator::readPeerEvents()
{
    alignas(inotify_event) char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(m_inotify, buffer, sizeof buffer);
        if (n <= 0)
            return;
        for (ssize_t offset = 0; offset < n;) {
            const auto* event = reinterpret_cast<const inotify_event*>(buffer + offset);
            offset += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
            if (event->mask & IN_OPEN) {
                ++m_peerOpens;
                say(u"the link was opened"_s);
                if (!m_peerEverOpened && m_settings.burst > 0)
                    m_burstAt = monotonicSeconds() + m_settings.burstDelay;
                m_peerEverOpened = true;
            }
            if (event->mask & IN_CLOSE) {
                m_peerOpens = std::max(0, m_peerOpens - 1);
                if (m_peerOpens == 0) {
                    say(u"the link was closed"_s);
                    // What nobody read is gone, as on a line with nothing
                    // attached.
                    m_outQueue.clear();
                    ::tcflush(m_slave, TCIFLUSH);
                    m_assembler.clear();
                }
            }
            // inotify folds identical events queued back to back, so two quick
            // opens may count as one; a write proves someone has it open.
            if ((event->mask & IN_MODIFY) && m_peerOpens == 0)
                m_peerOpens = 1;
        }
    }
}

void Simulator::writeDue(double now)
{
    if (m_outQueue.isEmpty() || m_waitWritable)
        return;
    qsizetype count = m_outQueue.size();
    if (m_settings.pace) {
        // A late wake-up sends what fell due meanwhile, so the average rate
        // stays the line's; an idle line earns no credit (see send()).
        if (m_lineFreeAt > now)
            return;
        const auto due = static_cast<qsizetype>((now - m_lineFreeAt) / CharSeconds) + 1;
        count = std::min(count, due);
    }
    const ssize_t n = ::write(m_port, m_outQueue.constData(), static_cast<std::size_t>(count));
    if (n < 0) {
        if (errno == EAGAIN)
            m_waitWritable = true;
        else if (errno != EINTR) {
            say(systemError(u"cannot write to the port"_s));
            m_quit = m_failed = true;
        }
        return;
    }
    m_outQueue.remove(0, n);
    m_lineFreeAt += static_cast<double>(n) * CharSeconds;
}

// Until the other side has read the burst, ending would close the master and
// throw away what still waits in the pseudo-terminal.
bool Simulator::burstFullyRead()
{
    if (!m_outQueue.isEmpty())
        return false;
    if (m_slave >= 0) {
        if (m_peerOpens == 0)
            return true;
        // FIONREAD alone misses bytes still on their way into the slave's
        // input queue; a poll of the slave pushes them through first.
        pollfd slave { m_slave, POLLIN, 0 };
        if (::poll(&slave, 1, 0) > 0 && (slave.revents & POLLIN))
            return false;
        int waiting = 0;
        return !(::ioctl(m_slave, FIONREAD, &waiting) == 0 && waiting > 0);
    }
    ::tcdrain(m_port);
    return true;
}

int Simulator::run()
{
    while (!m_quit) {
        const double now = monotonicSeconds();
        if (m_burstAt >= 0.0 && now >= m_burstAt) {
            m_burstAt = -1.0;
            for (long k = 1; k <= m_settings.burst; ++k)
                sendReading(static_cast<double>(k), false);
            m_burstSent = true;
            say(u"burst of %1 readings queued"_s.arg(m_settings.burst));
        }
        if (m_nextReading > 0.0 && now >= m_nextReading) {
            sendReading(m_model.position(3, now - m_start), false);
            m_nextReading += m_settings.readingInterval;
            if (m_nextReading <= now)
                m_nextReading = now + m_settings.readingInterval;
        }
        writeDue(now);
        if (m_settings.exitAfterBurst && m_burstSent && burstFullyRead())
            break;

        double wakeAt = -1.0;
        const auto wakeBy = [&](double at) {
            if (at >= 0.0 && (wakeAt < 0.0 || at < wakeAt))
                wakeAt = at;
        };
        wakeBy(m_burstAt);
        if (m_nextReading > 0.0)
            wakeBy(m_nextReading);
        if (!m_outQueue.isEmpty() && !m_waitWritable)
            wakeBy(m_settings.pace ? m_lineFreeAt : now);
        if (m_settings.exitAfterBurst && m_burstSent)
            wakeBy(now + 0.02); // the reader's progress wakes nothing here

        std::vector<pollfd> fds;
        fds.push_back({ g_signalPipe[0], POLLIN, 0 });
        fds.push_back({ m_port, static_cast<short>(POLLIN | (m_waitWritable ? POLLOUT : 0)), 0 });
        const bool watchTerminal = m_terminalOpen;
        if (watchTerminal)
            fds.push_back({ STDIN_FILENO, POLLIN, 0 });
        const bool watchPeer = m_inotify >= 0;
        if (watchPeer)
            fds.push_back({ m_inotify, POLLIN, 0 });

        timespec timeout {};
        timespec* timeoutPtr = nullptr;
        if (wakeAt >= 0.0) {
            const double wait = std::max(0.0, wakeAt - monotonicSeconds());
            timeout.tv_sec = static_cast<time_t>(wait);
            timeout.tv_nsec = static_cast<long>((wait - static_cast<double>(timeout.tv_sec)) * 1e9);
            timeoutPtr = &timeout;
        }
        if (::ppoll(fds.data(), fds.size(), timeoutPtr, nullptr) < 0) {
            if (errno == EINTR)
                continue;
            say(systemError(u"poll failed"_s));
            return 1;
        }

        if (fds[0].revents & POLLIN) {
            char signal = 0;
            if (::read(g_signalPipe[0], &signal, 1) == 1)
                say(u"ending on signal %1"_s.arg(static_cast<int>(signal)));
            break;
        }
        // Opens and closes first, so what arrives with them already knows
        // whether anyone listens.
        const std::size_t terminalIndex = 2;
        const std::size_t peerIndex = watchTerminal ? 3 : 2;
        if (watchPeer && (fds[peerIndex].revents & POLLIN))
            readPeerEvents();
        if (fds[1].revents & POLLOUT)
            m_waitWritable = false;
        if (fds[1].revents & (POLLIN | POLLERR | POLLHUP))
            readPort();
        if (watchTerminal && (fds[terminalIndex].revents & (POLLIN | POLLHUP | POLLERR)))
            readTerminal();
    }
    return m_failed ? 1 : 0;
}

} // namespace

int main(int argc, char** argv)
{
    Settings settings;
    if (const int status = parseArguments(argc, argv, settings); status >= 0)
        return status;

    if (::pipe2(g_signalPipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        std::perror("kestrin-board-sim: pipe");
        return 1;
    }
    struct sigaction action
    {
    };
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    for (const int signal : { SIGINT, SIGTERM, SIGHUP })
        ::sigaction(signal, &action, nullptr);
    std::signal(SIGPIPE, SIG_IGN);
    // A board started in the background must not be stopped for reading its
    // terminal; the read fails instead and keys are simply not taken.
    std::signal(SIGTTIN, SIG_IGN);

    Simulator simulator(settings);
    if (!simulator.start())
        return 1;
    return simulator.run();
}
