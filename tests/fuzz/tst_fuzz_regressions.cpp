// SPDX-License-Identifier: MIT
// Replays the fuzzers' saved corpus and every input that once broke the code,
// in the ordinary build, so a fault the fuzzer found cannot come back
// unnoticed. A broken rule aborts; Qt Test then names the file.

#include "fuzztargets.h"

#include <QDir>
#include <QFile>
#include <QTest>

using namespace Qt::StringLiterals;

class tst_FuzzRegressions : public QObject
{
    Q_OBJECT

private:
    using Target = void (*)(const std::uint8_t*, std::size_t);

    static void addInputs(const QString& folder, Target target)
    {
        const QDir dir(QStringLiteral(TARVIK_FUZZ_DIR) + u'/' + folder);
        const QStringList names = dir.entryList(QDir::Files, QDir::Name);
        QVERIFY2(!names.isEmpty() || folder.startsWith(u"regressions"_s),
            qPrintable(u"no inputs in "_s + dir.path()));
        for (const QString& name : names) {
            QTest::newRow(qPrintable(folder + u'/' + name))
                << dir.filePath(name) << reinterpret_cast<quintptr>(target);
        }
    }

private Q_SLOTS:
    void replay_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<quintptr>("target");
        addInputs(u"corpus/receive"_s, &fuzzReceive);
        addInputs(u"regressions/receive"_s, &fuzzReceive);
        addInputs(u"corpus/numbers"_s, &fuzzNumbers);
        addInputs(u"regressions/numbers"_s, &fuzzNumbers);
    }

    void replay()
    {
        QFETCH(QString, path);
        QFETCH(quintptr, target);
        QFile f(path);
        QVERIFY2(f.open(QIODevice::ReadOnly), qPrintable(path));
        const QByteArray bytes = f.readAll();
        reinterpret_cast<Target>(target)(reinterpret_cast<const std::uint8_t*>(bytes.constData()),
            static_cast<std::size_t>(bytes.size()));
    }
};

QTEST_GUILESS_MAIN(tst_FuzzRegressions)
#include "tst_fuzz_regressions.moc"
