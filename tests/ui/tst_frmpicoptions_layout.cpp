// SPDX-License-Identifier: MIT
// The setup window as the operator first sees it: where every control
// stands, what it says, its font, its first state and the keyboard order.

#include "ui/shape.h"
#include "setuprig.h"

#include <QDialog>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QSignalSpy>
#include <QTabBar>
#include <QTabWidget>
#include <QTest>
#include <QTimer>

using namespace Qt::StringLiterals;

namespace {

QRect twips(int left, int top, int width, int height)
{
    return { left / 15, top / 15, width / 15, height / 15 };
}

} // namespace

class tst_FrmPicOptionsLayout : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void cleanupTestCase();

    void geometry_data();
    void geometry();
    void captions_data();
    void captions();
    void fonts_data();
    void fonts();

    void window();
    void tabs();
    void initialState();
    void keypadFaces();
    void rawView();
    void verdictButtonsNeverShow();
    void focusOrder();
    void okHasTheFocusWhenFirstShown();
    void enterAndEscapePressNothing_data();
    void enterAndEscapePressNothing();

private:
    std::unique_ptr<SetupRig> m_rig;
};

void tst_FrmPicOptionsLayout::initTestCase()
{
    m_rig = std::make_unique<SetupRig>();
    QVERIFY(m_rig->start());
    QVERIFY(m_rig->showSetup());
}

void tst_FrmPicOptionsLayout::cleanupTestCase()
{
    m_rig.reset();
}

void tst_FrmPicOptionsLayout::geometry_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("tab"); // -1: on the window
    QTest::addColumn<QRect>("expected"); // in the window's client coordinates

    // Tab and frame contents are measured from their container's corner: the
    // tab control at 120,120 (its row of tabs included), and the frames.
    const auto inTab
        = [](int l, int t, int w, int h) { return twips(l, t, w, h).translated(8, 8); };
    const QPoint frame1 = twips(120, 720, 0, 0).topLeft() + QPoint(8, 8);
    const QPoint frame2 = twips(120, 1980, 0, 0).topLeft() + QPoint(8, 8);

    QTest::newRow("SSTab1") << u"SSTab1"_s << -1 << twips(120, 120, 3015, 3735);
    QTest::newRow("Label11") << u"Label11"_s << -1 << twips(120, 3900, 1695, 195);
    QTest::newRow("Text1") << u"Text1"_s << -1 << twips(120, 4140, 3015, 915);
    QTest::newRow("cmdOK") << u"cmdOK"_s << -1 << twips(3300, 4500, 1095, 555);
    QTest::newRow("cmdCancel") << u"cmdCancel"_s << -1 << twips(4620, 4500, 1140, 555);
    QTest::newRow("cmdApply") << u"cmdApply"_s << -1 << twips(6000, 4500, 1095, 555);

    const int lefts[] = { 3240, 4560, 5880 };
    const int tops[] = { 120, 1080, 2040, 3000 };
    for (int digit = 1; digit <= 9; ++digit) {
        const int row = 2 - (digit - 1) / 3;
        const int column = (digit - 1) % 3;
        QTest::addRow("cmdNumber%d", digit)
            << u"cmdNumber%1"_s.arg(digit) << -1 << twips(lefts[column], tops[row], 1215, 855);
    }
    QTest::newRow("cmdDecimal") << u"cmdDecimal"_s << -1 << twips(3240, 3000, 1215, 855);
    QTest::newRow("cmdNumber0") << u"cmdNumber0"_s << -1 << twips(4560, 3000, 1215, 855);
    QTest::newRow("cmdBackSpace") << u"cmdBackSpace"_s << -1 << twips(5880, 3000, 1215, 855);

    QTest::newRow("Frame1") << u"Frame1"_s << 0 << inTab(120, 720, 2775, 1215);
    QTest::newRow("Label1") << u"Label1"_s << 0 << twips(480, 300, 795, 255).translated(frame1);
    QTest::newRow("lblScale3") << u"lblScale3"_s << 0
                               << twips(1320, 240, 1035, 315).translated(frame1);
    QTest::newRow("Label2") << u"Label2"_s << 0 << twips(480, 660, 795, 255).translated(frame1);
    QTest::newRow("txtScale3") << u"txtScale3"_s << 0
                               << twips(1320, 600, 1035, 330).translated(frame1);
    QTest::newRow("Frame2") << u"Frame2"_s << 0 << inTab(120, 1980, 2775, 795);
    QTest::newRow("lblCounter3") << u"lblCounter3"_s << 0
                                 << twips(60, 300, 2655, 315).translated(frame2);
    QTest::newRow("cmdZeroCounter3") << u"cmdZeroCounter3"_s << 0 << inTab(120, 2880, 2775, 735);

    // The second encoder's scale rows stand one pixel further left.
    QTest::newRow("Frame4") << u"Frame4"_s << 1 << inTab(120, 720, 2775, 1215);
    QTest::newRow("Label5") << u"Label5"_s << 1 << twips(465, 300, 795, 255).translated(frame1);
    QTest::newRow("lblScale4") << u"lblScale4"_s << 1
                               << twips(1305, 240, 1035, 315).translated(frame1);
    QTest::newRow("Label4") << u"Label4"_s << 1 << twips(465, 660, 795, 255).translated(frame1);
    QTest::newRow("txtScale4") << u"txtScale4"_s << 1
                               << twips(1305, 600, 1035, 330).translated(frame1);
    QTest::newRow("Frame3") << u"Frame3"_s << 1 << inTab(120, 1980, 2775, 795);
    QTest::newRow("lblCounter4") << u"lblCounter4"_s << 1
                                 << twips(60, 300, 2655, 315).translated(frame2);
    QTest::newRow("cmdZeroCounter4") << u"cmdZeroCounter4"_s << 1 << inTab(120, 2880, 2775, 735);

    const char* labels[] = { "Label3", "Label6", "Label7", "Label8", "Label9", "Label10" };
    for (int i = 0; i < 6; ++i) {
        const int top = 1080 + 300 * i;
        QTest::addRow("Shape%d", i + 1)
            << u"Shape%1"_s.arg(i + 1) << 2 << inTab(840, top, 255, 255);
        QTest::newRow(labels[i]) << QString::fromLatin1(labels[i]) << 2
                                 << inTab(1140, top, 1575, 315);
    }
    QTest::newRow("Command1") << u"Command1"_s << 2 << inTab(360, 2940, 1095, 675);
    QTest::newRow("Command2") << u"Command2"_s << 2 << inTab(1560, 2940, 1095, 675);
}

void tst_FrmPicOptionsLayout::geometry()
{
    QFETCH(QString, name);
    QFETCH(int, tab);
    QFETCH(QRect, expected);

    auto* tabs = m_rig->child<QTabWidget>(u"SSTab1"_s);
    QVERIFY(tabs);
    if (tab >= 0)
        tabs->setCurrentIndex(tab);
    QWidget* control = m_rig->child<QWidget>(name);
    QVERIFY2(control, qPrintable(name));
    const QRect actual(control->mapTo(m_rig->setup(), QPoint(0, 0)), control->size());
    QCOMPARE(actual, expected);
    tabs->setCurrentIndex(0);
}

void tst_FrmPicOptionsLayout::captions_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("caption");

    QTest::newRow("Label11") << u"Label11"_s << u"Raw Receive:"_s;
    QTest::newRow("cmdOK") << u"cmdOK"_s << u"OK"_s;
    QTest::newRow("cmdCancel") << u"cmdCancel"_s << u"Cancel"_s;
    QTest::newRow("cmdApply") << u"cmdApply"_s << u"Apply"_s;
    for (int digit = 0; digit <= 9; ++digit)
        QTest::addRow("cmdNumber%d", digit)
            << u"cmdNumber%1"_s.arg(digit) << QString::number(digit);
    QTest::newRow("cmdDecimal") << u"cmdDecimal"_s << u"."_s;
    QTest::newRow("cmdBackSpace") << u"cmdBackSpace"_s << u"BackSpace"_s;
    QTest::newRow("Frame1") << u"Frame1"_s << u"Scale Factor:"_s;
    QTest::newRow("Frame4") << u"Frame4"_s << u"Scale Factor:"_s;
    QTest::newRow("Frame2") << u"Frame2"_s << u"Current Position:"_s;
    QTest::newRow("Frame3") << u"Frame3"_s << u"Current Position:"_s;
    QTest::newRow("Label1") << u"Label1"_s << u"Current:"_s;
    QTest::newRow("Label5") << u"Label5"_s << u"Current:"_s;
    QTest::newRow("Label2") << u"Label2"_s << u"Change to:"_s;
    QTest::newRow("Label4") << u"Label4"_s << u"Change to:"_s;
    QTest::newRow("cmdZeroCounter3") << u"cmdZeroCounter3"_s << u"Zero the Encoder"_s;
    QTest::newRow("cmdZeroCounter4") << u"cmdZeroCounter4"_s << u"Zero the Encoder"_s;
    QTest::newRow("Label3") << u"Label3"_s << u"A. Accept"_s;
    QTest::newRow("Label6") << u"Label6"_s << u"B. Accept"_s;
    QTest::newRow("Label7") << u"Label7"_s << u"End of Board"_s;
    QTest::newRow("Label8") << u"Label8"_s << u"Zero"_s;
    QTest::newRow("Label9") << u"Label9"_s << u"Aux 1"_s;
    QTest::newRow("Label10") << u"Label10"_s << u"Aux 2"_s;
    QTest::newRow("Command1") << u"Command1"_s << u"'Good' Part"_s;
    QTest::newRow("Command2") << u"Command2"_s << u"'Bad' Part"_s;
}

void tst_FrmPicOptionsLayout::captions()
{
    QFETCH(QString, name);
    QFETCH(QString, caption);

    QWidget* control = m_rig->child<QWidget>(name);
    QVERIFY2(control, qPrintable(name));
    if (auto* label = qobject_cast<QLabel*>(control))
        QCOMPARE(label->text(), caption);
    else if (auto* button = qobject_cast<QPushButton*>(control))
        QCOMPARE(button->text(), caption);
    else if (auto* frame = qobject_cast<QGroupBox*>(control))
        QCOMPARE(frame->title(), caption);
    else
        QFAIL("no caption");
}

void tst_FrmPicOptionsLayout::fonts_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("family");
    QTest::addColumn<qreal>("points");
    QTest::addColumn<int>("alignment"); // Qt::Alignment, horizontal part; 0 for none

    const QString sans = u"MS Sans Serif"_s;
    for (int digit = 0; digit <= 9; ++digit)
        QTest::addRow("cmdNumber%d", digit) << u"cmdNumber%1"_s.arg(digit) << sans << 18.0 << 0;
    QTest::newRow("cmdDecimal") << u"cmdDecimal"_s << sans << 24.0 << 0;
    QTest::newRow("cmdBackSpace") << u"cmdBackSpace"_s << sans << 9.75 << 0;
    for (const char* name : { "lblScale3", "lblScale4", "lblCounter3", "lblCounter4" })
        QTest::newRow(name) << QString::fromLatin1(name) << sans << 12.0 << int(Qt::AlignHCenter);
    QTest::newRow("txtScale3") << u"txtScale3"_s << sans << 12.0 << 0;
    QTest::newRow("txtScale4") << u"txtScale4"_s << sans << 12.0 << 0;
    for (const char* name : { "Label3", "Label6", "Label7", "Label8", "Label9", "Label10" })
        QTest::newRow(name) << QString::fromLatin1(name) << sans << 9.75 << int(Qt::AlignLeft);
    for (const char* name : { "Label1", "Label2", "Label4", "Label5" })
        QTest::newRow(name) << QString::fromLatin1(name) << sans << 8.25 << int(Qt::AlignRight);
}

void tst_FrmPicOptionsLayout::fonts()
{
    QFETCH(QString, name);
    QFETCH(QString, family);
    QFETCH(qreal, points);
    QFETCH(int, alignment);

    QWidget* control = m_rig->child<QWidget>(name);
    QVERIFY2(control, qPrintable(name));
    // The family asked for, whatever the system substitutes when drawing.
    QCOMPARE(control->font().family(), family);
    QCOMPARE(control->font().pointSizeF(), points);
    QCOMPARE(control->font().weight(), QFont::Normal);
    if (alignment != 0) {
        auto* label = qobject_cast<QLabel*>(control);
        QVERIFY(label);
        QCOMPARE(int(label->alignment() & Qt::AlignHorizontal_Mask), alignment);
    }
}

void tst_FrmPicOptionsLayout::window()
{
    frmPicOptions* setup = m_rig->setup();
    QCOMPARE(setup->windowTitle(), u"Kestrin Encoder Diagnostics/Setup"_s);
    QCOMPARE(setup->size(), QSize(482, 351));
    QCOMPARE(setup->minimumSize(), setup->maximumSize());
    const Qt::WindowFlags flags = setup->windowFlags();
    QVERIFY(flags.testFlag(Qt::WindowCloseButtonHint));
    QVERIFY(!flags.testFlag(Qt::WindowMinimizeButtonHint));
    QVERIFY(!flags.testFlag(Qt::WindowMaximizeButtonHint));
    // A window of its own, owned by no other: a dialog or a child of the main
    // window would stay above the main window when the operator goes there.
    QCOMPARE(setup->windowType(), Qt::Window);
    QCOMPARE(setup->parentWidget(), nullptr);
    QVERIFY(!setup->windowHandle() || !setup->windowHandle()->transientParent());
    QVERIFY(!qobject_cast<QDialog*>(setup));

    // Load centred it on the screen; the window frame, unknown before the
    // first showing, may shift it by its border.
    const QPoint offCentre = setup->geometry().center() - setup->screen()->geometry().center();
    QVERIFY2(qAbs(offCentre.x()) <= 4 && qAbs(offCentre.y()) <= 4,
        qPrintable(u"%1,%2"_s.arg(QString::number(offCentre.x()), QString::number(offCentre.y()))));
}

void tst_FrmPicOptionsLayout::tabs()
{
    auto* tabs = m_rig->child<QTabWidget>(u"SSTab1"_s);
    QVERIFY(tabs);
    QCOMPARE(tabs->count(), 3);
    QCOMPARE(tabs->tabText(0), u"Encoder 1"_s);
    QCOMPARE(tabs->tabText(1), u"Encoder 2"_s);
    QCOMPARE(tabs->tabText(2), u"Inputs / Outputs"_s);
    QCOMPARE(tabs->tabBar()->font().family(), u"Arial"_s);
    QCOMPARE(tabs->tabBar()->font().pointSizeF(), 9.0);
    // One row of three equal tabs, 40 pixels high, across the control.
    for (int i = 0; i < 3; ++i) {
        QCOMPARE(tabs->tabBar()->tabRect(i).height(), 40);
        QCOMPARE(tabs->tabBar()->tabRect(i).width(), 67);
        QCOMPARE(tabs->tabBar()->tabRect(i).top(), 0);
        QVERIFY(tabs->tabIcon(i).isNull());
    }
    // The pages begin below the row of tabs.
    QVERIFY(tabs->widget(0)->mapTo(tabs, QPoint(0, 0)).y() >= 40);
}

void tst_FrmPicOptionsLayout::initialState()
{
    auto* tabs = m_rig->child<QTabWidget>(u"SSTab1"_s);
    QCOMPARE(tabs->currentIndex(), 0);
    QCOMPARE(m_rig->child<QLineEdit>(u"txtScale3"_s)->text(), QString());
    QCOMPARE(m_rig->child<QLineEdit>(u"txtScale4"_s)->text(), QString());
    QVERIFY(!m_rig->child<QPushButton>(u"cmdApply"_s)->isEnabled());
    for (const char* name : { "lblScale3", "lblScale4", "lblCounter3", "lblCounter4" })
        QCOMPARE(m_rig->child<QLabel>(QString::fromLatin1(name))->text(), u"2540.12"_s);
    for (int i = 1; i <= 6; ++i) {
        auto* shape = m_rig->child<Shape>(u"Shape%1"_s.arg(i));
        QVERIFY(shape);
        QCOMPARE(shape->size(), QSize(17, 17));
        QCOMPARE(shape->property("FillColor").value<QColor>(), QColor(128, 128, 128));
    }
    auto* timer = m_rig->child<QTimer>(u"Timer1"_s);
    QVERIFY(timer);
    QCOMPARE(timer->interval(), 900);
}

void tst_FrmPicOptionsLayout::keypadFaces()
{
    QStringList names { u"cmdDecimal"_s, u"cmdBackSpace"_s };
    for (int digit = 0; digit <= 9; ++digit)
        names << u"cmdNumber%1"_s.arg(digit);
    for (const QString& name : names) {
        auto* key = m_rig->child<QPushButton>(name);
        QVERIFY2(key, qPrintable(name));
        QCOMPARE(key->palette().color(QPalette::Button), QColor(192, 192, 192));
    }
}

void tst_FrmPicOptionsLayout::rawView()
{
    auto* raw = m_rig->child<QPlainTextEdit>(u"Text1"_s);
    QVERIFY(raw);
    QVERIFY(!raw->isReadOnly());
    QCOMPARE(raw->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
    QCOMPARE(raw->maximumBlockCount(), 1000);
    QCOMPARE(raw->toPlainText(), QString());
}

void tst_FrmPicOptionsLayout::verdictButtonsNeverShow()
{
    auto* tabs = m_rig->child<QTabWidget>(u"SSTab1"_s);
    tabs->setCurrentIndex(2);
    QTest::qWait(20);
    QVERIFY(m_rig->child<QWidget>(u"Shape1"_s)->isVisible());
    QVERIFY(!m_rig->child<QPushButton>(u"Command1"_s)->isVisible());
    QVERIFY(!m_rig->child<QPushButton>(u"Command2"_s)->isVisible());
    // The keypad and dialog buttons stay where they are on the inputs page.
    QVERIFY(m_rig->child<QPushButton>(u"cmdNumber7"_s)->isVisible());
    QVERIFY(m_rig->child<QPushButton>(u"cmdApply"_s)->isVisible());
    QVERIFY(m_rig->child<QPlainTextEdit>(u"Text1"_s)->isVisible());
    tabs->setCurrentIndex(0);
}

void tst_FrmPicOptionsLayout::focusOrder()
{
    QStringList expected { u"cmdOK"_s, u"cmdCancel"_s, u"cmdApply"_s, u"SSTab1"_s, u"cmdDecimal"_s,
        u"cmdBackSpace"_s };
    for (int digit = 0; digit <= 9; ++digit)
        expected << u"cmdNumber%1"_s.arg(digit);
    expected << u"txtScale3"_s << u"cmdZeroCounter3"_s << u"cmdZeroCounter4"_s << u"txtScale4"_s
             << u"Text1"_s;

    // Walk the chain once round from cmdOK and keep the controls named above;
    // the tab control takes the focus through its row of tabs.
    QWidget* start = m_rig->child<QWidget>(u"cmdOK"_s);
    QStringList actual;
    QWidget* w = start;
    do {
        QString name = w->objectName();
        if (qobject_cast<QTabBar*>(w) && w->parentWidget())
            name = w->parentWidget()->objectName();
        if (expected.contains(name) && !actual.contains(name))
            actual << name;
        w = w->nextInFocusChain();
    } while (w != start);
    QCOMPARE(actual, expected);
}

void tst_FrmPicOptionsLayout::okHasTheFocusWhenFirstShown()
{
    QCOMPARE(m_rig->setup()->focusWidget(), m_rig->child<QWidget>(u"cmdOK"_s));
}

void tst_FrmPicOptionsLayout::enterAndEscapePressNothing_data()
{
    QTest::addColumn<QString>("focus");
    QTest::addColumn<int>("key");

    QTest::newRow("Enter in txtScale3") << u"txtScale3"_s << int(Qt::Key_Return);
    QTest::newRow("keypad Enter in txtScale3") << u"txtScale3"_s << int(Qt::Key_Enter);
    QTest::newRow("Escape in txtScale3") << u"txtScale3"_s << int(Qt::Key_Escape);
    QTest::newRow("Escape on cmdOK") << u"cmdOK"_s << int(Qt::Key_Escape);
    QTest::newRow("Escape in Text1") << u"Text1"_s << int(Qt::Key_Escape);
}

void tst_FrmPicOptionsLayout::enterAndEscapePressNothing()
{
    QFETCH(QString, focus);
    QFETCH(int, key);

    frmPicOptions* setup = m_rig->setup();
    QVERIFY(setup->isVisible());
    QList<std::shared_ptr<QSignalSpy>> spies;
    for (QPushButton* button : setup->findChildren<QPushButton*>())
        spies << std::make_shared<QSignalSpy>(button, &QPushButton::clicked);

    QWidget* target = m_rig->child<QWidget>(focus);
    target->setFocus();
    QTest::keyClick(target, Qt::Key(key));
    QTest::qWait(50);

    for (const auto& spy : spies)
        QCOMPARE(spy->count(), 0);
    QVERIFY(setup->isVisible());
    for (QPushButton* button : setup->findChildren<QPushButton*>())
        QVERIFY2(!button->isDefault() && !button->autoDefault(), qPrintable(button->objectName()));
}

QTEST_MAIN(tst_FrmPicOptionsLayout)
#include "tst_frmpicoptions_layout.moc"
