// SPDX-License-Identifier: MIT
#pragma once

// What the program tells the administrator through Qt's logging, recorded
// while an instance lives: one line per message of a tarvik.* category, as
// "<severity> <category>: <text>" with the severity debug, info, warning or
// critical. Everything is still handed on to the handler before it, so the
// test's own output shows it. Header-only, so the Windows build of the tests
// can use it without the POSIX support library.

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QtGlobal>

class MessageLog
{
public:
    MessageLog()
        : m_previous(qInstallMessageHandler(&MessageLog::handle))
    {
        s_current = this;
    }
    ~MessageLog()
    {
        qInstallMessageHandler(m_previous);
        s_current = nullptr;
    }
    MessageLog(const MessageLog&) = delete;
    MessageLog& operator=(const MessageLog&) = delete;

    QStringList lines;

    // The lines of one severity ("warning", "info", ...).
    QStringList of(const QString& severity) const
    {
        QStringList found;
        for (const QString& line : lines) {
            if (line.startsWith(severity + u' '))
                found.append(line);
        }
        return found;
    }

private:
    static void handle(QtMsgType type, const QMessageLogContext& context, const QString& text)
    {
        if (MessageLog* log = s_current) {
            if (context.category && QByteArray(context.category).startsWith("tarvik."))
                log->lines.append(severity(type) + u' ' + QString::fromLatin1(context.category)
                    + QStringLiteral(": ") + text);
            if (log->m_previous)
                log->m_previous(type, context, text);
        }
    }

    static QString severity(QtMsgType type)
    {
        switch (type) {
        case QtDebugMsg:
            return QStringLiteral("debug");
        case QtInfoMsg:
            return QStringLiteral("info");
        case QtWarningMsg:
            return QStringLiteral("warning");
        case QtCriticalMsg:
            return QStringLiteral("critical");
        case QtFatalMsg:
            break;
        }
        return QStringLiteral("fatal");
    }

    static inline MessageLog* s_current = nullptr;
    QtMessageHandler m_previous;
};
