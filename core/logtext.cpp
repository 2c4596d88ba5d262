// SPDX-License-Identifier: MIT
#include "logtext.h"

#include <QChar>
#include <vector>

using namespace Qt::StringLiterals;

namespace {

// A date/time pattern cut into what Qt's formatter sees: quoted literals
// (kept byte for byte, quotes included), runs of one field letter, and single
// literal characters. Editing tokens instead of characters keeps quoted text
// such as 'г'. or 'Uhr' intact.
struct Token
{
    enum Kind
    {
        Quoted,
        Field,
        Literal
    };
    Kind kind;
    QString text;
};

bool isFieldLetter(QChar c)
{
    return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z');
}

std::vector<Token> tokenize(const QString& pattern)
{
    std::vector<Token> tokens;
    const qsizetype n = pattern.size();
    qsizetype i = 0;
    while (i < n) {
        const QChar c = pattern.at(i);
        qsizetype end = i + 1;
        Token::Kind kind = Token::Literal;
        if (c == u'\'') {
            // '' inside quotes is an escaped quote; an unclosed quote runs to the end.
            kind = Token::Quoted;
            while (end < n) {
                if (pattern.at(end) == u'\'') {
                    if (end + 1 < n && pattern.at(end + 1) == u'\'') {
                        end += 2;
                        continue;
                    }
                    ++end;
                    break;
                }
                ++end;
            }
        } else if (isFieldLetter(c)) {
            kind = Token::Field;
            while (end < n && pattern.at(end) == c)
                ++end;
        }
        tokens.push_back({ kind, pattern.mid(i, end - i) });
        i = end;
    }
    return tokens;
}

QString join(const std::vector<Token>& tokens)
{
    QString out;
    for (const Token& t : tokens)
        out += t.text;
    return out;
}

bool isLiteral(const Token& t, QStringView chars)
{
    return t.kind == Token::Literal && t.text.size() == 1 && chars.contains(t.text.at(0));
}

bool isSeparator(const Token& t)
{
    return t.kind == Token::Literal && t.text.size() == 1
        && (t.text.at(0).isSpace() || t.text.at(0) == u',' || t.text.at(0) == u'\u060C'
            || t.text.at(0) == u'\u3001');
}

// Any year field becomes "yyyy": the short form's two-digit year is
// ambiguous in a log that is kept for years.
QString widenYear(const QString& pattern)
{
    std::vector<Token> tokens = tokenize(pattern);
    for (Token& t : tokens) {
        if (t.kind == Token::Field && t.text.at(0) == u'y' && t.text.size() < 4)
            t.text = u"yyyy"_s;
    }
    return join(tokens);
}

// Drops every time-zone field ("t" to "tttt") together with brackets right
// around it and the blanks or commas that tied it to the rest, so
// "h:mm:ss AP t" -> "h:mm:ss AP", "H:mm:ss (t)" -> "H:mm:ss", "t HH:mm:ss" ->
// "HH:mm:ss". Readings are stamped in local time; the zone name only adds
// noise and changes with daylight saving.
QString timeWithoutZone(const QString& pattern)
{
    std::vector<Token> tokens = tokenize(pattern);
    // Qt has no field for a flexible day period ("B", as in zh_TW's
    // "Bh:mm:ss") and would print the letter itself; AM/PM says the same.
    for (Token& t : tokens) {
        if (t.kind == Token::Field && (t.text.at(0) == u'B' || t.text.at(0) == u'b'))
            t.text = u"AP"_s;
    }
    for (;;) {
        qsizetype zone = -1;
        for (qsizetype i = 0; i < qsizetype(tokens.size()); ++i) {
            if (tokens[i].kind == Token::Field && tokens[i].text.at(0) == u't') {
                zone = i;
                break;
            }
        }
        if (zone < 0)
            break;

        qsizetype first = zone;
        qsizetype last = zone;
        if (first > 0 && last + 1 < qsizetype(tokens.size())
            && isLiteral(tokens[first - 1], u"([\uFF08")
            && isLiteral(tokens[last + 1], u")]\uFF09")) {
            --first;
            ++last;
        }
        qsizetype before = first;
        while (before > 0 && isSeparator(tokens[before - 1]))
            --before;
        qsizetype after = last;
        while (after + 1 < qsizetype(tokens.size()) && isSeparator(tokens[after + 1]))
            ++after;

        // Between two parts, one set of separators must stay to keep them apart.
        const bool partBefore = before > 0;
        const bool partAfter = after + 1 < qsizetype(tokens.size());
        if (partBefore && partAfter)
            after = last;
        tokens.erase(tokens.begin() + before, tokens.begin() + after + 1);
    }
    return join(tokens);
}

// The C and POSIX locales (LANG unset) name no country: their short date
// "7 Dec 2026" carries an English month name that a spreadsheet does not read
// as a date. ISO 8601 and a 24-hour time read everywhere.
bool isPlainCLocale(const QLocale& locale)
{
    return locale.language() == QLocale::C;
}

QString datePattern(const QLocale& locale)
{
    if (isPlainCLocale(locale))
        return u"yyyy-MM-dd"_s;
    return widenYear(locale.dateFormat(QLocale::ShortFormat));
}

QString timePattern(const QLocale& locale)
{
    if (isPlainCLocale(locale))
        return u"HH:mm:ss"_s;
    return timeWithoutZone(locale.timeFormat(QLocale::LongFormat));
}

} // namespace

LogTextFormat::LogTextFormat(const QLocale& locale)
    : m_locale(locale)
    , m_datePattern(datePattern(locale))
    , m_timePattern(timePattern(locale))
{ }

QString LogTextFormat::date(QDate date) const
{
    return m_locale.toString(date, m_datePattern);
}

QString LogTextFormat::time(QTime time) const
{
    return m_locale.toString(time, m_timePattern);
}

QString logViewLine(const ReadingTexts& texts)
{
    return texts.value + u'\t' + texts.date + u'\t' + texts.time + u"\r\n"_s;
}

QByteArray csvRecord(const ReadingTexts& texts)
{
    const QString line
        = u'"' + texts.value + u"\",\""_s + texts.date + u"\",\""_s + texts.time + u"\"\r\n"_s;
    return line.toLocal8Bit();
}
