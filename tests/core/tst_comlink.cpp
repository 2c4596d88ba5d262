// SPDX-License-Identifier: MIT
// The comN links in the shared data folder: found by number, made in one
// step, and never made over a file, a folder or a FIFO that stands there.

#include "core/comlink.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>
#include <sys/stat.h>

using namespace Qt::StringLiterals;

namespace {

QStringList entries(const QString& folder)
{
    return QDir(folder).entryList(
        QDir::AllEntries | QDir::System | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name);
}

QByteArray readFile(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

} // namespace

class tst_ComLink : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void linksByNumber()
    {
        QTemporaryDir dir;
        for (const QString& name :
            { u"com12"_s, u"com1"_s, u"com0"_s, u"com256"_s, u"com01"_s, u"comx"_s, u"Com2"_s })
            QVERIFY(QFile::link(u"/dev/null"_s, dir.filePath(name)));
        QFile plain(dir.filePath(u"com3"_s));
        QVERIFY(plain.open(QIODevice::WriteOnly));
        const QList<comlink::Link> found = comlink::links(dir.path());
        QCOMPARE(found.size(), 2);
        QCOMPARE(found[0].number, 1);
        QCOMPARE(found[0].path, dir.filePath(u"com1"_s));
        QCOMPARE(found[0].target, u"/dev/null"_s);
        QCOMPARE(found[1].number, 12);
    }

    void place_data()
    {
        QTest::addColumn<QString>("standing"); // what stands at com1 before
        QTest::addColumn<bool>("placed");
        QTest::addColumn<QString>("error");

        QTest::newRow("nothing") << QString() << true << QString();
        QTest::newRow("a link: replaced") << u"link"_s << true << QString();
        QTest::newRow("a dangling link: replaced") << u"dangling"_s << true << QString();
        QTest::newRow("a regular file: left")
            << u"file"_s << false << u"%1 is a regular file, not a link: it is left as it is"_s;
        QTest::newRow("a folder: left")
            << u"folder"_s << false << u"%1 is a folder, not a link: it is left as it is"_s;
        QTest::newRow("a FIFO: left")
            << u"fifo"_s << false << u"%1 is a FIFO, not a link: it is left as it is"_s;
    }

    void place()
    {
        QFETCH(QString, standing);
        QFETCH(bool, placed);
        QFETCH(QString, error);
        QTemporaryDir dir;
        const QString com1 = dir.filePath(u"com1"_s);
        if (standing == u"link"_s)
            QVERIFY(QFile::link(u"/dev/zero"_s, com1));
        else if (standing == u"dangling"_s)
            QVERIFY(QFile::link(u"/dev/serial/by-id/gone"_s, com1));
        else if (standing == u"file"_s) {
            QFile f(com1);
            QVERIFY(f.open(QIODevice::WriteOnly) && f.write("mine") == 4);
        } else if (standing == u"folder"_s)
            QVERIFY(QDir(dir.path()).mkdir(u"com1"_s));
        else if (standing == u"fifo"_s)
            QVERIFY(::mkfifo(QFile::encodeName(com1).constData(), 0600) == 0);

        const Result<comlink::Placed> result = comlink::place(com1, u"/dev/null"_s);
        QCOMPARE(result.ok(), placed);
        QCOMPARE(result.reason(), QString(error).replace(u"%1"_s, com1));
        // Only com1, whatever happened: no temporary name left.
        QCOMPARE(entries(dir.path()), QStringList { u"com1"_s });
        const QFileInfo info(com1);
        if (placed) {
            QCOMPARE(info.symLinkTarget(), u"/dev/null"_s);
            QCOMPARE(result->hadLink, standing == u"link"_s || standing == u"dangling"_s);
        } else if (standing == u"file"_s) {
            QCOMPARE(readFile(com1), QByteArray("mine"));
        } else {
            QVERIFY(!info.isSymLink());
            QCOMPARE(info.isDir(), standing == u"folder"_s);
        }
    }

    void undoPutsBackWhatStood_data()
    {
        QTest::addColumn<QString>("before"); // empty: no link
        QTest::newRow("a link stood there") << u"/dev/zero"_s;
        QTest::newRow("nothing stood there") << QString();
    }

    void undoPutsBackWhatStood()
    {
        QFETCH(QString, before);
        QTemporaryDir dir;
        const QString com1 = dir.filePath(u"com1"_s);
        if (!before.isEmpty())
            QVERIFY(QFile::link(before, com1));
        const Result<comlink::Placed> placed = comlink::place(com1, u"/dev/null"_s);
        QVERIFY(placed.ok());
        QCOMPARE(placed->previousTarget, before);
        comlink::undo(com1, u"/dev/null"_s, placed.value());
        if (before.isEmpty())
            QCOMPARE(entries(dir.path()), QStringList());
        else
            QCOMPARE(QFileInfo(com1).symLinkTarget(), before);
    }

    void undoLeavesAnotherOperatorsNewLink()
    {
        QTemporaryDir dir;
        const QString com1 = dir.filePath(u"com1"_s);
        const Result<comlink::Placed> placed = comlink::place(com1, u"/dev/null"_s);
        QVERIFY(placed.ok());
        QVERIFY(QFile::remove(com1) && QFile::link(u"/dev/zero"_s, com1));
        comlink::undo(com1, u"/dev/null"_s, placed.value());
        QCOMPARE(QFileInfo(com1).symLinkTarget(), u"/dev/zero"_s);
    }
};

QTEST_GUILESS_MAIN(tst_ComLink)
#include "tst_comlink.moc"
