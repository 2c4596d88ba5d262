// SPDX-License-Identifier: MIT
// The administrator's lines: which severities are on without any rule, how a
// rule switches the detail on, and a failure that repeats told once per
// reason.

#include "core/eventlog.h"
#include "messagelog.h"

#include <QTest>

using namespace Qt::StringLiterals;

class tst_EventLog : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void severitiesOnByDefault_data();
    void severitiesOnByDefault();
    void debugSwitchedOnByRule();
    void repeatedFailure_data();
    void repeatedFailure();
};

void tst_EventLog::severitiesOnByDefault_data()
{
    QTest::addColumn<QString>("category");
    QTest::newRow("tarvik.port") << u"tarvik.port"_s;
    QTest::newRow("tarvik.log") << u"tarvik.log"_s;
    QTest::newRow("tarvik.settings") << u"tarvik.settings"_s;
}

// Without QT_LOGGING_RULES an administrator sees failures and recoveries,
// and no detail.
void tst_EventLog::severitiesOnByDefault()
{
    QFETCH(QString, category);
    if (!qEnvironmentVariableIsEmpty("QT_LOGGING_RULES"))
        QSKIP("QT_LOGGING_RULES is set in this environment");
    const QLoggingCategory& lc = category == u"tarvik.port"_s ? lcPort()
        : category == u"tarvik.log"_s                         ? lcLog()
                                                              : lcSettings();
    QCOMPARE(QString::fromLatin1(lc.categoryName()), category);
    QVERIFY(!lc.isDebugEnabled());
    QVERIFY(lc.isInfoEnabled());
    QVERIFY(lc.isWarningEnabled());

    MessageLog log;
    qCDebug(lc) << "detail";
    qCInfo(lc) << "transition";
    QCOMPARE(log.lines, QStringList { u"info %1: transition"_s.arg(category) });
}

void tst_EventLog::debugSwitchedOnByRule()
{
    QLoggingCategory::setFilterRules(u"tarvik.*.debug=true"_s);
    const bool on
        = lcPort().isDebugEnabled() && lcLog().isDebugEnabled() && lcSettings().isDebugEnabled();
    QLoggingCategory::setFilterRules(QString());
    QVERIFY(on);
}

// Each step is a reason ("" a failure without one) or "ok"; `told` marks the
// steps that are told.
void tst_EventLog::repeatedFailure_data()
{
    QTest::addColumn<QStringList>("steps");
    QTest::addColumn<QList<bool>>("told");

    QTest::newRow("the same reason N times: told once") << QStringList { u"busy"_s, u"busy"_s,
        u"busy"_s, u"busy"_s } << QList<bool> { true, false, false, false };
    QTest::newRow("the reason changes: told again") << QStringList { u"missing"_s, u"missing"_s,
        u"busy"_s, u"busy"_s, u"missing"_s } << QList<bool> { true, false, true, false, true };
    QTest::newRow("recovery told once, after a failure only") << QStringList { u"ok"_s, u"busy"_s,
        u"ok"_s, u"ok"_s } << QList<bool> { false, true, true, false };
    QTest::newRow("the same reason after a recovery: told again")
        << QStringList { u"busy"_s, u"ok"_s, u"busy"_s } << QList<bool> { true, true, true };
    QTest::newRow("a failure without a reason is still a failure")
        << QStringList { u""_s, u""_s, u"ok"_s } << QList<bool> { true, false, true };
}

void tst_EventLog::repeatedFailure()
{
    QFETCH(QStringList, steps);
    QFETCH(QList<bool>, told);

    RepeatedFailure failure;
    QList<bool> result;
    for (const QString& step : steps)
        result.append(step == u"ok"_s ? failure.recovered() : failure.failed(step));
    QCOMPARE(result, told);
}

QTEST_GUILESS_MAIN(tst_EventLog)
#include "tst_eventlog.moc"
