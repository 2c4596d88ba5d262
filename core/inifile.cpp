// SPDX-License-Identifier: MIT
#include "core/inifile.h"

#include "core/safefile.h"

#include <QByteArray>
#include <QList>

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

} // namespace

QString ReadIniString(
    const QString& section, const QString& key, const QString& file, QString* error)
{
    // Settings come only from a regular file of a bounded size, reached by
    // no link another operator planted: a FIFO would hang the read,
    // /dev/zero never end it.
    const safefile::Contents contents = safefile::readWhole(file, MaxIniFileSize);
    if (error)
        *error = contents.reason;
    const QByteArray wantSection = section.toLocal8Bit();
    const QByteArray wantKey = key.toLocal8Bit();
    bool inSection = false;
    for (const QByteArrayView line : splitKeepingEnds(contents.bytes)) {
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
    return {};
}

bool WriteIniString(const QString& section, const QString& key, const QString& value,
                    const QString& file)
{
    const safefile::Contents contents = safefile::readWhole(file, MaxIniFileSize);
    if (!contents.reason.isEmpty())
        return false;
    const QByteArray& old = contents.bytes;
    const QByteArray wantSection = section.toLocal8Bit();
    const QByteArray wantKey = key.toLocal8Bit();
    const QByteArray newKeyLine = wantKey + '=' + value.toLocal8Bit();

    const QList<QByteArrayView> lines = splitKeepingEnds(old);
    qsizetype sectionLine = -1;     // index of our "[section]" line
    qsizetype lastContent = -1;     // last non-blank line inside our section
    qsizetype keyIndex = -1;
    for (qsizetype i = 0; i < lines.size(); ++i) {
        if (const auto name = sectionName(lines[i])) {
            if (sectionLine >= 0)
                break; // past the end of our section
            if (sameName(*name, wantSection)) {
                sectionLine = i;
                lastContent = i;
            }
            continue;
        }
        if (sectionLine < 0)
            continue;
        if (!trimBlanks(lines[i]).isEmpty())
            lastContent = i;
        const auto kv = keyLine(lines[i]);
        if (kv && sameName(kv->key, wantKey)) {
            keyIndex = i;
            break;
        }
    }

    QByteArray out;
    out.reserve(old.size() + newKeyLine.size() + wantSection.size() + 8);
    auto appendLines = [&](qsizetype from, qsizetype to) {
        for (qsizetype i = from; i < to; ++i)
            out.append(lines[i]);
    };
    if (keyIndex >= 0) {
        const QByteArrayView line = lines[keyIndex];
        appendLines(0, keyIndex);
        out.append(newKeyLine);
        out.append(line.endsWith("\r\n") ? "\r\n" : endsWithNewline(line) ? "\n" : "");
        appendLines(keyIndex + 1, lines.size());
    } else if (sectionLine >= 0) {
        appendLines(0, lastContent + 1);
        if (!endsWithNewline(lines[lastContent]))
            out.append("\r\n");
        out.append(newKeyLine + "\r\n");
        appendLines(lastContent + 1, lines.size());
    } else {
        out = old;
        if (!out.isEmpty() && !out.endsWith('\n'))
            out.append("\r\n");
        out.append('[' + wantSection + "]\r\n" + newKeyLine + "\r\n");
    }

    // The next start would refuse it.
    if (out.size() > MaxIniFileSize)
        return false;
    // Replaced, not written through: a link planted at the name is replaced
    // rather than followed into someone's own files.
    return safefile::replaceFile(file, out).ok;
}
