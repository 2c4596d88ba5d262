// SPDX-License-Identifier: MIT
#include "core/inifile.h"

#include "core/safefile.h"

#include <QByteArray>
#include <QList>

#include <cerrno>
#include <optional>

namespace {

constexpr qsizetype MaxValueLength = 254;

QByteArrayView trimBlanks(QByteArrayView s)
{
    auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    while (!s.isEmpty() && blank(s.front()))
        s = s.sliced(1);
    while (!s.isEmpty() && blank(s.back()))
        s.chop(1);
    return s;
}

bool sameName(QByteArrayView a, const QByteArray& b)
{
    return a.size() == b.size() && qstrnicmp(a.data(), a.size(), b.data(), b.size()) == 0;
}

// The section name of a "[name]" line, or nothing for any other line.
std::optional<QByteArrayView> sectionName(QByteArrayView line)
{
    line = trimBlanks(line);
    if (!line.startsWith('['))
        return std::nullopt;
    const qsizetype close = line.indexOf(']');
    if (close < 0)
        return std::nullopt;
    return trimBlanks(line.sliced(1, close - 1));
}

struct KeyLine
{
    QByteArrayView key;
    QByteArrayView value;
};

std::optional<KeyLine> keyLine(QByteArrayView line)
{
    const qsizetype eq = line.indexOf('=');
    if (eq < 0)
        return std::nullopt;
    return KeyLine { trimBlanks(line.first(eq)), trimBlanks(line.sliced(eq + 1)) };
}

// Lines with their own line ends, so that a rewrite keeps every other line
// byte for byte.
QList<QByteArrayView> splitKeepingEnds(QByteArrayView text)
{
    QList<QByteArrayView> lines;
    qsizetype start = 0;
    while (start < text.size()) {
        qsizetype nl = text.indexOf('\n', start);
        const qsizetype end = nl < 0 ? text.size() : nl + 1;
        lines.append(text.sliced(start, end - start));
        start = end;
    }
    return lines;
}

bool endsWithNewline(QByteArrayView line)
{
    return line.endsWith('\n');
}

// Where `key` of `section` stands among `lines`: the line indexes of the
// "[section]" line, of the section's last non-blank line and of the key's
// line, each -1 when there is none.
struct KeyPlace
{
    qsizetype sectionLine = -1;
    qsizetype lastContent = -1;
    qsizetype keyLine = -1;
};

KeyPlace findKey(
    const QList<QByteArrayView>& lines, const QByteArray& section, const QByteArray& key)
{
    KeyPlace place;
    for (qsizetype i = 0; i < lines.size(); ++i) {
        if (const auto name = sectionName(lines[i])) {
            if (place.sectionLine >= 0)
                break; // past the end of our section
            if (sameName(*name, section)) {
                place.sectionLine = i;
                place.lastContent = i;
            }
            continue;
        }
        if (place.sectionLine < 0)
            continue;
        if (!trimBlanks(lines[i]).isEmpty())
            place.lastContent = i;
        const auto kv = keyLine(lines[i]);
        if (kv && sameName(kv->key, key)) {
            place.keyLine = i;
            break;
        }
    }
    return place;
}

// The file's new text: `old` with `newKeyLine` in the key's line, at the
// end of its section, or in a new section at the end.
QByteArray withKeyLine(const QByteArray& old, const QByteArray& section, const QByteArray& key,
    const QByteArray& newKeyLine)
{
    const QList<QByteArrayView> lines = splitKeepingEnds(old);
    const KeyPlace place = findKey(lines, section, key);
    QByteArray out;
    out.reserve(old.size() + newKeyLine.size() + section.size() + 8);
    auto appendLines = [&](qsizetype from, qsizetype to) {
        for (qsizetype i = from; i < to; ++i)
            out.append(lines[i]);
    };
    if (place.keyLine >= 0) {
        const QByteArrayView line = lines[place.keyLine];
        appendLines(0, place.keyLine);
        out.append(newKeyLine);
        out.append(line.endsWith("\r\n") ? "\r\n" : endsWithNewline(line) ? "\n" : "");
        appendLines(place.keyLine + 1, lines.size());
    } else if (place.sectionLine >= 0) {
        appendLines(0, place.lastContent + 1);
        if (!endsWithNewline(lines[place.lastContent]))
            out.append("\r\n");
        out.append(newKeyLine + "\r\n");
        appendLines(place.lastContent + 1, lines.size());
    } else {
        out = old;
        if (!out.isEmpty() && !out.endsWith('\n'))
            out.append("\r\n");
        out.append('[' + section + "]\r\n" + newKeyLine + "\r\n");
    }
    return out;
}

// The settings as they are: an empty text for a missing file.
Result<QByteArray> readSettings(const QString& file)
{
    // Settings come only from a regular file of a bounded size, reached by
    // no link another operator planted: a FIFO would hang the read,
    // /dev/zero never end it.
    Result<QByteArray> contents = safefile::readWhole(file, MaxIniFileSize);
    if (!contents && contents.error() == ENOENT)
        return QByteArray();
    return contents;
}

} // namespace

Result<QString> ReadIniString(const QString& section, const QString& key, const QString& file)
{
    const Result<QByteArray> contents = readSettings(file);
    if (!contents)
        return contents.failure();
    const QByteArray wantSection = section.toLocal8Bit();
    const QByteArray wantKey = key.toLocal8Bit();
    bool inSection = false;
    for (const QByteArrayView line : splitKeepingEnds(contents.value())) {
        if (const auto name = sectionName(line)) {
            inSection = sameName(*name, wantSection);
            continue;
        }
        if (!inSection)
            continue;
        const auto kv = keyLine(line);
        if (!kv || !sameName(kv->key, wantKey))
            continue;
        QByteArrayView value = kv->value;
        // One pair of matching quotes, double or single, goes; a lone or
        // mismatched quote is part of the value.
        if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'')
            && value.back() == value.front())
            value = value.sliced(1, value.size() - 2);
        return QString::fromLocal8Bit(value.first(std::min(value.size(), MaxValueLength)));
    }
    return QString();
}

Result<void> WriteIniString(
    const QString& section, const QString& key, const QString& value, const QString& file)
{
    const Result<QByteArray> old = readSettings(file);
    if (!old)
        return old.failure();
    const QByteArray wantKey = key.toLocal8Bit();
    const QByteArray out = withKeyLine(
        old.value(), section.toLocal8Bit(), wantKey, wantKey + '=' + value.toLocal8Bit());
    // The next start would refuse it.
    if (out.size() > MaxIniFileSize)
        return Failure { QString::fromLatin1("it would grow to %1 bytes, over the %2 bytes allowed")
                             .arg(out.size())
                             .arg(MaxIniFileSize) };
    // Replaced, not written through: a link planted at the name is replaced
    // rather than followed into someone's own files.
    return safefile::replaceFile(file, out);
}
