// SPDX-License-Identifier: MIT
#include "core/lineassembler.h"

#include <QTest>

using namespace Qt::StringLiterals;

namespace {

struct Outcome
{
    QStringList lines;
    QString pending;
};

Outcome feedInChunks(const QByteArray& stream, const QList<qsizetype>& cuts)
{
    LineAssembler assembler;
    Outcome out;
    qsizetype from = 0;
    for (qsizetype cut : cuts) {
        assembler.feed(QByteArrayView(stream).sliced(from, cut - from), out.lines);
        from = cut;
    }
    assembler.feed(QByteArrayView(stream).sliced(from), out.lines);
    out.pending = assembler.pending();
    return out;
}

} // namespace

class tst_LineAssembler : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void framing_data();
    void framing();
    void linesAreAppended();
    void overlongLineDiscardedAcrossChunks();
    void clearEndsDiscarding();
};

void tst_LineAssembler::framing_data()
{
    QTest::addColumn<QByteArray>("stream");
    QTest::addColumn<QStringList>("lines");
    QTest::addColumn<QString>("pending");

    const auto bytes = [](const char* data, qsizetype size) { return QByteArray(data, size); };
    QTest::newRow("line ended by CR")
        << QByteArray("<C312.3456x\r") << QStringList { u"<C312.3456x"_s } << QString();
    QTest::newRow("CR LF") << QByteArray("<C312.3456x\r\n") << QStringList { u"<C312.3456x"_s }
                           << QString();
    QTest::newRow("LF CR same as CR LF")
        << QByteArray("<C312.3456x\n\r") << QStringList { u"<C312.3456x"_s } << QString();
    QTest::newRow("double CR gives one line")
        << QByteArray("<S303E03Cx\r\r") << QStringList { u"<S303E03Cx"_s } << QString();
    QTest::newRow("lone CR gives nothing") << QByteArray("\r") << QStringList() << QString();
    QTest::newRow("LF and CR only give nothing")
        << QByteArray("\n\r\n\r\r") << QStringList() << QString();
    QTest::newRow("LF inside a line dropped")
        << QByteArray("<K\nS1x\r") << QStringList { u"<KS1x"_s } << QString();
    QTest::newRow("NUL inside a line becomes a space") << bytes("<KS1\0"
                                                                "2x\r",
        8) << QStringList { u"<KS1 2x"_s } << QString();
    QTest::newRow("NUL alone is a line of one space")
        << bytes("\0\r", 2) << QStringList { u" "_s } << QString();
    QTest::newRow("unfinished line stays pending")
        << QByteArray("<C3x\r<C41") << QStringList { u"<C3x"_s } << u"<C41"_s;
    QTest::newRow("several lines in order")
        << QByteArray("<C31x\r\n<S40032x\r\n<IN000001x\r\n<KS1.5x\r\n")
        << QStringList { u"<C31x"_s, u"<S40032x"_s, u"<IN000001x"_s, u"<KS1.5x"_s } << QString();
    QTest::newRow("bytes above 127 are Latin-1")
        << QByteArray("<XX\xE9\xFF\r") << QStringList { u"<XX\u00E9\u00FF"_s } << QString();

    const QByteArray longest(LineAssembler::MaxLineLength, 'a');
    QTest::newRow("line of exactly the limit kept")
        << longest + "\r<C3x\r" << QStringList { QString::fromLatin1(longest), u"<C3x"_s }
        << QString();
    QTest::newRow("line one past the limit dropped up to its CR, next line normal")
        << longest + "b\r<C3x\r" << QStringList { u"<C3x"_s } << QString();
    QTest::newRow("overlong line still unfinished leaves nothing pending")
        << u"<C3x\r"_s.toLatin1() + longest + "bcd" << QStringList { u"<C3x"_s } << QString();
    QTest::newRow("LF does not end a dropped line")
        << longest + "b\nxyz\r<C4x\r" << QStringList { u"<C4x"_s } << QString();
}

void tst_LineAssembler::framing()
{
    QFETCH(QByteArray, stream);
    QFETCH(QStringList, lines);
    QFETCH(QString, pending);

    const auto check = [&](const Outcome& got, const QString& how) {
        QVERIFY2(got.lines == lines && got.pending == pending,
            qPrintable(u"%1: lines [%2], pending \"%3\""_s.arg(
                how, got.lines.join(u'|').left(80), got.pending.left(40))));
    };

    check(feedInChunks(stream, {}), u"whole stream in one chunk"_s);
    if (QTest::currentTestFailed())
        return;
    QList<qsizetype> everyByte;
    for (qsizetype i = 1; i < stream.size(); ++i)
        everyByte.append(i);
    check(feedInChunks(stream, everyByte), u"one byte at a time"_s);
    for (qsizetype cut = 1; cut < stream.size(); ++cut) {
        check(feedInChunks(stream, { cut }), u"split into two chunks at byte %1"_s.arg(cut));
        if (QTest::currentTestFailed())
            return;
    }
}

void tst_LineAssembler::linesAreAppended()
{
    LineAssembler assembler;
    QStringList lines { u"earlier"_s };
    assembler.feed("<C3x\r", lines);
    QCOMPARE(lines, (QStringList { u"earlier"_s, u"<C3x"_s }));
}

void tst_LineAssembler::overlongLineDiscardedAcrossChunks()
{
    // Growth past the limit found only when a later chunk adds to an already
    // long pending line.
    LineAssembler assembler;
    QStringList lines;
    assembler.feed(QByteArray(LineAssembler::MaxLineLength - 10, 'a'), lines);
    QCOMPARE(assembler.pending().size(), LineAssembler::MaxLineLength - 10);
    assembler.feed(QByteArray(20, 'b'), lines);
    QVERIFY(assembler.pending().isEmpty());
    assembler.feed("still the same line", lines);
    QVERIFY(assembler.pending().isEmpty());
    assembler.feed("\r<KS1.5x", lines);
    QVERIFY(lines.isEmpty());
    QCOMPARE(assembler.pending(), u"<KS1.5x"_s);
    assembler.feed("\r", lines);
    QCOMPARE(lines, QStringList { u"<KS1.5x"_s });
}

void tst_LineAssembler::clearEndsDiscarding()
{
    LineAssembler assembler;
    QStringList lines;
    assembler.feed(QByteArray(LineAssembler::MaxLineLength + 1, 'a'), lines);
    assembler.clear();
    assembler.feed("<C3x\r", lines);
    QCOMPARE(lines, QStringList { u"<C3x"_s });

    assembler.feed("<C4", lines);
    assembler.clear();
    QVERIFY(assembler.pending().isEmpty());
    assembler.feed("1x\r", lines);
    QCOMPARE(lines, (QStringList { u"<C3x"_s, u"1x"_s }));
}

QTEST_APPLESS_MAIN(tst_LineAssembler)
#include "tst_lineassembler.moc"
