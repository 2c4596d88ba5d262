// SPDX-License-Identifier: MIT
// What a screen reader finds in the windows, through Qt's accessibility
// interfaces: the windows' roles, the names the controls' captions give them,
// the input lamps and their changes as the board reports them, and which tab
// is showing. The board is a pseudo-terminal, as for the other window tests.

#include "accessibleevents.h"
#include "setuprig.h"
#include "ui/shape.h"
#include "ui/sstab.h"

#include <QAccessible>
#include <QLabel>
#include <QTest>

using namespace Qt::StringLiterals;

namespace {

QAccessibleInterface* accessible(QObject* object)
{
    return QAccessible::queryAccessibleInterface(object);
}

const QStringList LampCaptions { u"A. Accept"_s, u"B. Accept"_s, u"End of Board"_s, u"Zero"_s,
    u"Aux 1"_s, u"Aux 2"_s };

} // namespace

class tst_Accessibility : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void windowsAreAFrameAndADialog();
    void controlsAreNamedByTheirCaptions_data();
    void controlsAreNamedByTheirCaptions();
    void lampsReadAsCheckBoxes_data();
    void lampsReadAsCheckBoxes();
    void showingTabIsSelected();
};

// Plain widgets as windows read as unnamed panes ("filler").
void tst_Accessibility::windowsAreAFrameAndADialog()
{
    SetupRig rig;
    QVERIFY(rig.start());
    QAccessibleInterface* main = accessible(rig.main.get());
    QCOMPARE(main->role(), QAccessible::Window);
    QCOMPARE(main->text(QAccessible::Name), u"Tarvik Data Logger"_s);
    QAccessibleInterface* setup = accessible(rig.setup());
    QCOMPARE(setup->role(), QAccessible::Dialog);
    QCOMPARE(setup->text(QAccessible::Name), u"Kestrin Encoder Diagnostics/Setup"_s);
}

void tst_Accessibility::controlsAreNamedByTheirCaptions_data()
{
    QTest::addColumn<QString>("control");
    QTest::addColumn<QAccessible::Role>("role");
    QTest::addColumn<QByteArray>("line"); // the board's, empty: none
    QTest::addColumn<QString>("name");

    QTest::newRow("encoder 1 scale box: its own caption, not the group's")
        << u"txtScale3"_s << QAccessible::EditableText << QByteArray() << u"Change to:"_s;
    QTest::newRow("encoder 2 scale box")
        << u"txtScale4"_s << QAccessible::EditableText << QByteArray() << u"Change to:"_s;
    QTest::newRow("encoder 1 scale factor: caption and value")
        << u"lblScale3"_s << QAccessible::StaticText << QByteArray() << u"Current: 2540.12"_s;
    QTest::newRow("encoder 2 scale factor after the board's answer")
        << u"lblScale4"_s << QAccessible::StaticText << QByteArray("<S40186A0*\r\n")
        << u"Current: 1000.00"_s;
    QTest::newRow("encoder 1 position: the group's caption and value")
        << u"lblCounter3"_s << QAccessible::StaticText << QByteArray()
        << u"Current Position: 2540.12"_s;
    QTest::newRow("encoder 2 position after the board's answer")
        << u"lblCounter4"_s << QAccessible::StaticText << QByteArray("<C412.3456*\r\n")
        << u"Current Position: 12.346"_s;
    QTest::newRow("raw view") << u"Text1"_s << QAccessible::EditableText << QByteArray()
                              << u"Raw Receive:"_s;
}

void tst_Accessibility::controlsAreNamedByTheirCaptions()
{
    QFETCH(QString, control);
    QFETCH(QAccessible::Role, role);
    QFETCH(QByteArray, line);
    QFETCH(QString, name);

    SetupRig rig;
    QVERIFY(rig.start());
    auto* widget = rig.child<QWidget>(control);
    QVERIFY(widget);
    AccessibleEvents events;
    QAccessibleInterface* iface = accessible(widget);
    if (!line.isEmpty()) {
        QVERIFY(rig.board.send(line));
        QTRY_COMPARE(rig.module->RxLine, QString::fromLatin1(line.chopped(2)));
        // A reader following the value is told its name changed.
        const QList<RecordedEvent> renamed = AccessibleEvents::of(QAccessible::NameChanged, iface);
        QCOMPARE(renamed.size(), 1);
        QCOMPARE(renamed.first().name, name);
    }
    QCOMPARE(iface->role(), role);
    QCOMPARE(iface->text(QAccessible::Name), name);
}

void tst_Accessibility::lampsReadAsCheckBoxes_data()
{
    QTest::addColumn<QByteArrayList>("lines"); // the board's inputs replies, in turn
    QTest::addColumn<QString>("lit"); // '1' for each of the six lamps on at the end
    QTest::addColumn<QString>("told"); // '1' for each lamp the last reply changed

    QTest::newRow("all off at the start") << QByteArrayList {} << u"000000"_s << u"000000"_s;
    QTest::newRow("A. Accept comes on")
        << QByteArrayList { "<IN000001*\r\n" } << u"100000"_s << u"100000"_s;
    QTest::newRow("Aux 1 and Aux 2 come on")
        << QByteArrayList { "<IN11*\r\n" } << u"000011"_s << u"000011"_s;
    QTest::newRow("all on, then all but A. Accept go off")
        << QByteArrayList { "<IN111111*\r\n", "<IN000001*\r\n" } << u"100000"_s << u"011111"_s;
    QTest::newRow("the same reply again: nothing to tell")
        << QByteArrayList { "<IN000101*\r\n", "<IN000101*\r\n" } << u"101000"_s << u"000000"_s;
}

void tst_Accessibility::lampsReadAsCheckBoxes()
{
    QFETCH(QByteArrayList, lines);
    QFETCH(QString, lit);
    QFETCH(QString, told);

    SetupRig rig;
    QVERIFY(rig.start());
    AccessibleEvents events;
    for (const QByteArray& line : std::as_const(lines)) {
        AccessibleEvents::clear();
        QVERIFY(rig.board.send(line));
        QTRY_COMPARE(rig.module->RxLine, QString::fromLatin1(line.chopped(2)));
    }
    for (int i = 0; i < 6; ++i) {
        auto* lamp = rig.child<Shape>(u"Shape%1"_s.arg(i + 1));
        QAccessibleInterface* iface = accessible(lamp);
        const bool on = lit[i] == u'1';
        QCOMPARE(iface->role(), QAccessible::CheckBox);
        QCOMPARE(iface->text(QAccessible::Name), LampCaptions[i]);
        QVERIFY(iface->state().checkable);
        QVERIFY(iface->state().readOnly);
        QCOMPARE(bool(iface->state().checked), on);

        const QList<RecordedEvent> changes = AccessibleEvents::of(QAccessible::StateChanged, iface);
        QCOMPARE(changes.size(), told[i] == u'1' ? 1 : 0);
        for (const RecordedEvent& change : changes) {
            QVERIFY(change.changed.checked);
            QCOMPARE(bool(change.state.checked), on);
        }
    }
}

void tst_Accessibility::showingTabIsSelected()
{
    SetupRig rig;
    QVERIFY(rig.start());
    auto* tabs = rig.child<SSTab>(u"SSTab1"_s);
    AccessibleEvents events;
    QAccessibleInterface* row = accessible(tabs->tabBar());
    QCOMPARE(row->role(), QAccessible::PageTabList);
    QCOMPARE(row->childCount(), 3);
    const QStringList captions { u"Encoder 1"_s, u"Encoder 2"_s, u"Inputs / Outputs"_s };
    const auto selectedTabs = [&] {
        QString selected;
        for (int i = 0; i < row->childCount(); ++i)
            selected += row->child(i)->state().selected ? u'1' : u'0';
        return selected;
    };
    for (int i = 0; i < 3; ++i) {
        QAccessibleInterface* tab = row->child(i);
        QCOMPARE(tab->role(), QAccessible::PageTab);
        QCOMPARE(tab->text(QAccessible::Name), captions[i]);
        QCOMPARE(tab->parent(), row);
        QCOMPARE(row->indexOfChild(tab), i);
    }
    QCOMPARE(selectedTabs(), u"100"_s);

    tabs->setTab(2);
    QCOMPARE(selectedTabs(), u"001"_s);
    // A reader is told of the newly selected tab and of the one that is not
    // any more, or it keeps both marked.
    const QList<RecordedEvent> selection = AccessibleEvents::of(QAccessible::Selection);
    QCOMPARE(selection.size(), 1);
    QCOMPARE(selection.first().target, row->child(2));
    QVERIFY(selection.first().state.selected);
    const QList<RecordedEvent> deselection = AccessibleEvents::of(QAccessible::SelectionRemove);
    QCOMPARE(deselection.size(), 1);
    QCOMPARE(deselection.first().target, row->child(0));
    QVERIFY(!deselection.first().state.selected);

    // A reader can switch tabs, as a click does.
    QAccessibleActionInterface* press = row->child(1)->actionInterface();
    QVERIFY(press);
    press->doAction(QAccessibleActionInterface::pressAction());
    QCOMPARE(tabs->Tab(), 1);
    QCOMPARE(selectedTabs(), u"010"_s);
}

QTEST_MAIN(tst_Accessibility)
#include "tst_accessibility.moc"
