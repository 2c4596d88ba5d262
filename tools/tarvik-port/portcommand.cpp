// SPDX-License-Identifier: MIT
#include "portcommand.h"

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <algorithm>

using namespace Qt::StringLiterals;

namespace tarvikport {

namespace {

// The first lines of --help, so that a manual page made from the help has a
// synopsis and a one-line description.
constexpr auto Usage = "Usage: tarvik-port list\n"
                       "  or:  tarvik-port find [DEVICE...]\n"
                       "  or:  tarvik-port use [--com N] PORT"_L1;
constexpr auto Description
    = "Find the serial port the Tarvik data logger's encoder board is on, and choose it.\n"
      "\n"
      "Tarvik opens the port that ComPort=N in its Settings.ini names. On Linux that\n"
      "is the link comN in its data folder when there is one, else the built-in port\n"
      "/dev/ttyS<N-1>; on Windows it is COMN. tarvik-port lists the serial ports,\n"
      "asks them which one the board answers on, and points ComPort at it.\n"
      "\n"
      "Data folder: " TARVIK_DATA_HINT "."_L1;

constexpr auto Epilogue
    = "\n"
      "Commands:\n"
      "  list          Show every serial port: its stable name (/dev/serial/by-id/...),\n"
      "                device, description, maker, USB vendor:product and serial number;\n"
      "                whether it is free, in use (by which program) or not to be opened\n"
      "                by you (and why); which comN link and ComPort lead to it; and\n"
      "                what ComPort reaches now. Sends nothing to any port.\n"
      "  find          Ask each free port you may open whether the board is there: open\n"
      "                it as tarvik does (9600 baud, 8N1, exclusive, lock file), send the\n"
      "                request ?INPUTS, wait up to 1.5 seconds for a reply of the board's,\n"
      "                close it. One line per port. Ports other programs hold are left\n"
      "                alone. Other devices on serial ports see one short request.\n"
      "  find DEVICE...\n"
      "                The same, asking these devices too (e.g. a pseudo-terminal).\n"
      "  use PORT      Make tarvik open PORT from its next start: PORT is a device\n"
      "                (/dev/ttyUSB0), a /dev/serial/by-id/ name, or 'found' for the one\n"
      "                port where find finds the board now. Makes comN in the data\n"
      "                folder a link to the port's stable name and sets ComPort=N in\n"
      "                Settings.ini, keeping its comments and other keys. N is --com N,\n"
      "                else the ComPort set now, else 1. A comN that is a file, a folder\n"
      "                or a FIFO is left alone, and so is a device tarvik would refuse.\n"
      "                On Windows, sets ComPort to the number of PORT (COM3: 3).\n"
      "\n"
      "Exit status:\n"
      "  0 when done (find: exactly one port has the board), 1 when not (find: no\n"
      "  board or more than one; use: the port or a file was refused), 2 for a wrong\n"
      "  command line or a PORT that does not exist.\n"_L1;

// For --com, which Windows does not take.
[[maybe_unused]] std::optional<int> portNumber(const QString& text)
{
    bool ok = false;
    const int number = text.toInt(&ok);
    // Digits only: "+3", " 3" and "3.0" are typing errors, not numbers.
    const bool digits = !text.isEmpty()
        && std::all_of(text.cbegin(), text.cend(), [](QChar c) { return c.isDigit(); });
    if (!ok || !digits || number < 1 || number > LastPortNumber)
        return std::nullopt;
    return number;
}

// The command and its arguments into `result`; the refusal's text if they
// are wrong.
std::optional<QString> takeCommand(QStringList words, CommandLine& result)
{
    if (words.isEmpty())
        return u"no command given: list, find or use"_s;
    const QString command = words.takeFirst();
    if (command == u"list"_s) {
        result.command = CommandLine::Command::List;
        if (!words.isEmpty())
            return u"list takes no arguments, not %1"_s.arg(words.constFirst());
    } else if (command == u"find"_s) {
        result.command = CommandLine::Command::Find;
        result.devices = words;
    } else if (command == u"use"_s) {
        result.command = CommandLine::Command::Use;
        if (words.isEmpty())
            return u"use needs a PORT: a device, a /dev/serial/by-id/ name, or found"_s;
        if (words.size() > 1)
            return u"use takes one PORT, not %1"_s.arg(words.join(u' '));
        result.port = words.constFirst();
    } else {
        return u"unknown command %1: list, find or use"_s.arg(command);
    }
    return std::nullopt;
}

// --com's value into `result`; the refusal's text if it is wrong.
std::optional<QString> takeComNumber(const QString& value, CommandLine& result)
{
    if (result.command != CommandLine::Command::Use)
        return u"--com goes with use only"_s;
#ifdef Q_OS_WIN
    Q_UNUSED(value);
    return u"--com is not for Windows, where ComPort is the COM port's own number"_s;
#else
    result.comNumber = portNumber(value);
    if (!result.comNumber) {
        return u"--com takes a port number from 1 to %1, not %2"_s.arg(
            QString::number(LastPortNumber), value);
    }
    return std::nullopt;
#endif
}

} // namespace

CommandLine parseCommandLine(const QStringList& arguments)
{
    const QCommandLineOption com { u"com"_s,
        u"With use: the N of comN and ComPort=N, 1 to 255 (default: the ComPort set now, "
        "else 1)."_s,
        u"N"_s };
    const QCommandLineOption help { { u"h"_s, u"help"_s }, u"Show this help and end."_s };
    const QCommandLineOption version { u"version"_s, u"Show the version and end."_s };
    QCommandLineParser parser;
    parser.setApplicationDescription(Description);
    parser.addOptions({ com, help, version });
    parser.addPositionalArgument(u"command"_s, u"list, find or use (below)."_s);

    CommandLine result;
    auto refuse = [&result](const QString& text) {
        result.action = CommandLine::Action::Refuse;
        result.text = text;
        return result;
    };
    if (!parser.parse(arguments))
        return refuse(parser.errorText());
    if (parser.isSet(help)) {
        // Qt's usage line names the program by the path it was started from.
        result.action = CommandLine::Action::Show;
        result.text = Usage + u'\n' + parser.helpText().section(u'\n', 1) + Epilogue;
        return result;
    }
    if (parser.isSet(version)) {
        result.action = CommandLine::Action::Show;
        result.text
            = u"tarvik-port (Tarvik Data Logger) %1\n"_s.arg(QLatin1StringView(TARVIK_VERSION));
        return result;
    }
    if (const auto wrong = takeCommand(parser.positionalArguments(), result))
        return refuse(*wrong);
    if (parser.isSet(com)) {
        if (const auto wrong = takeComNumber(parser.value(com), result))
            return refuse(*wrong);
    }
    return result;
}

} // namespace tarvikport
