// SPDX-License-Identifier: MIT
#include "accessibleevents.h"
#include "ui/logview.h"

#include <QAccessible>
#include <QApplication>
#include <QClipboard>
#include <QFocusEvent>
#include <QImage>
#include <QScrollBar>
#include <QTest>

using namespace Qt::StringLiterals;

namespace {

QString reading(int n)
{
    return QString::number(n) + u"\t12/7/2026\t4:19:14 AM"_s;
}

QStringList readings(int first, int count)
{
    QStringList lines;
    for (int n = first; n < first + count; ++n)
        lines.append(reading(n));
    return lines;
}

using Range = std::pair<qsizetype, qsizetype>;

// A reading as a screen reader names its line.
QString spoken(int n)
{
    return reading(n).replace(u'\t', u", "_s);
}

// Where the current line stands before and after readings come.
enum class Current
{
    None,
    Newest,
    Older,
    RangeToNewest, // a selection from an older line down to the newest
    Unchanged,
};

} // namespace

Q_DECLARE_METATYPE(Current)

class tst_LogView : public QObject
{
    Q_OBJECT

private:
    // A shown view of 445 x 353 pixels, the main window's, holding lines
    // 1..`lines` in one pass.
    void makeView(int lines, qsizetype maxLines = 100000, qsizetype trimLines = 1000)
    {
        m_window = std::make_unique<QWidget>();
        m_view = new LogView(maxLines, trimLines, m_window.get());
        m_view->setGeometry(16, 36, 445, 353);
        m_view->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
        m_window->resize(627, 427);
        m_window->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
        m_view->appendLines(readings(1, lines));
        m_view->setFocus();
    }

    QPoint pointOf(qsizetype row) const
    {
        const int height = m_view->fontMetrics().height();
        return { 30,
            LogView::Margin + int(row - m_view->firstVisibleLine()) * height + height / 2 };
    }

    void mouse(QEvent::Type type, QPoint at, Qt::KeyboardModifiers modifiers = {})
    {
        const Qt::MouseButton button = type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton;
        const Qt::MouseButtons held
            = type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::LeftButton;
        QWidget* viewport = m_view->viewport();
        QMouseEvent event(type, at, viewport->mapToGlobal(at), button, held, modifiers);
        QApplication::sendEvent(viewport, &event);
    }

    Range selection() const { return { m_view->selectionFirst(), m_view->selectionLast() }; }

    std::unique_ptr<QWidget> m_window;
    LogView* m_view = nullptr;

private Q_SLOTS:
    void initTestCase() { QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates)); }

    void cleanup()
    {
        m_window.reset();
        m_view = nullptr;
    }

    void mouseSelectsLines_data()
    {
        QTest::addColumn<int>("pressAt"); // rows from the last line shown
        QTest::addColumn<int>("releaseAt"); // ditto, after a drag
        QTest::addColumn<int>("shiftClickAt"); // ditto, 0: none
        QTest::addColumn<Range>("expected"); // rows from the last line shown

        QTest::newRow("click selects its line") << -3 << -3 << 0 << Range(-3, -3);
        QTest::newRow("drag down selects the lines between") << -6 << -2 << 0 << Range(-6, -2);
        QTest::newRow("drag up too") << -1 << -5 << 0 << Range(-5, -1);
        QTest::newRow("shift+click extends from the first line") << -8 << -8 << -2 << Range(-8, -2);
    }

    void mouseSelectsLines()
    {
        QFETCH(int, pressAt);
        QFETCH(int, releaseAt);
        QFETCH(int, shiftClickAt);
        QFETCH(Range, expected);
        makeView(500);
        const qsizetype last = m_view->lastVisibleLine();
        QCOMPARE(last, qsizetype(499));

        mouse(QEvent::MouseButtonPress, pointOf(last + pressAt));
        mouse(QEvent::MouseMove, pointOf(last + releaseAt));
        mouse(QEvent::MouseButtonRelease, pointOf(last + releaseAt));
        if (shiftClickAt) {
            mouse(QEvent::MouseButtonPress, pointOf(last + shiftClickAt), Qt::ShiftModifier);
            mouse(QEvent::MouseButtonRelease, pointOf(last + shiftClickAt), Qt::ShiftModifier);
        }
        QCOMPARE(selection(), Range(last + expected.first, last + expected.second));
    }

    void dragPastTheEdgeScrollsOn()
    {
        makeView(500);
        m_view->verticalScrollBar()->setValue(100);
        mouse(QEvent::MouseButtonPress, pointOf(105));
        mouse(QEvent::MouseMove, QPoint(30, -20));
        QTRY_VERIFY(m_view->firstVisibleLine() < 95);
        QCOMPARE(m_view->selectionLast(), qsizetype(105));
        QCOMPARE(m_view->selectionFirst(), m_view->firstVisibleLine());
        mouse(QEvent::MouseButtonRelease, QPoint(30, -20));
        const qsizetype stoppedAt = m_view->firstVisibleLine();
        QTest::qWait(150);
        QCOMPARE(m_view->firstVisibleLine(), stoppedAt);
    }

    // Readings arriving while the operator drags a selection: the view used
    // to jump to the newest line under the mouse.
    void dragHoldsTheViewUntilReleased_data()
    {
        QTest::addColumn<int>("maxLines");
        QTest::addColumn<qsizetype>("topAfter"); // row of line 101 after the readings
        QTest::addColumn<bool>("focusLeaves"); // the drag ends without a release

        QTest::newRow("readings arrive") << 100000 << qsizetype(100) << false;
        QTest::newRow("oldest lines go at the limit") << 500 << qsizetype(0) << false;
        QTest::newRow("a message box takes focus mid-drag") << 100000 << qsizetype(100) << true;
    }

    void dragHoldsTheViewUntilReleased()
    {
        QFETCH(int, maxLines);
        QFETCH(qsizetype, topAfter);
        QFETCH(bool, focusLeaves);
        makeView(500, maxLines, 100);
        m_view->verticalScrollBar()->setValue(100);
        mouse(QEvent::MouseButtonPress, pointOf(105));
        mouse(QEvent::MouseMove, pointOf(110));

        m_view->appendLines(readings(501, 3));
        QCOMPARE(m_view->firstVisibleLine(), topAfter);
        QCOMPARE(m_view->line(topAfter), reading(101));
        QCOMPARE(selection(), Range(topAfter + 5, topAfter + 10));
        mouse(QEvent::MouseMove, pointOf(topAfter + 12));
        QCOMPARE(selection(), Range(topAfter + 5, topAfter + 12));

        if (focusLeaves) {
            QFocusEvent focusOut(QEvent::FocusOut, Qt::ActiveWindowFocusReason);
            QApplication::sendEvent(m_view, &focusOut);
        } else {
            mouse(QEvent::MouseButtonRelease, pointOf(topAfter + 12));
        }
        QCOMPARE(m_view->lastVisibleLine(), m_view->lineCount() - 1);
        QCOMPARE(m_view->line(m_view->lineCount() - 1), reading(503));
        QCOMPARE(selection(), Range(topAfter + 5, topAfter + 12));
    }

    void keyboardSelectsLines_data()
    {
        QTest::addColumn<QList<QKeyCombination>>("keys");
        QTest::addColumn<Range>("expected");

        const auto shift = [](Qt::Key key) { return QKeyCombination(Qt::ShiftModifier, key); };
        const auto plain = [](Qt::Key key) { return QKeyCombination(key); };
        // 500 lines, rows 0..499, the last in sight.
        QTest::newRow("Up first takes the last line in sight")
            << QList { plain(Qt::Key_Up) } << Range(499, 499);
        QTest::newRow("then Up moves")
            << QList { plain(Qt::Key_Up), plain(Qt::Key_Up) } << Range(498, 498);
        QTest::newRow("Shift+Up extends")
            << QList { plain(Qt::Key_Up), shift(Qt::Key_Up), shift(Qt::Key_Up) } << Range(497, 499);
        QTest::newRow("Shift+Down back shrinks") << QList { plain(Qt::Key_Up), plain(Qt::Key_Up),
            shift(Qt::Key_Up), shift(Qt::Key_Down), shift(Qt::Key_Down) }
                                                 << Range(498, 499);
        QTest::newRow("Home, then Shift+Down")
            << QList { plain(Qt::Key_Home), shift(Qt::Key_Down) } << Range(0, 1);
        QTest::newRow("Home, then Shift+End: all")
            << QList { plain(Qt::Key_Home), shift(Qt::Key_End) } << Range(0, 499);
        QTest::newRow("Ctrl+A: all")
            << QList { QKeyCombination(Qt::ControlModifier, Qt::Key_A) } << Range(0, 499);
        QTest::newRow("Shift+PageUp extends a page")
            << QList { plain(Qt::Key_End), shift(Qt::Key_PageUp) } << Range(-1, 499);
        QTest::newRow("Down stops at the last line")
            << QList { plain(Qt::Key_End), plain(Qt::Key_Down) } << Range(499, 499);
    }

    void keyboardSelectsLines()
    {
        QFETCH(QList<QKeyCombination>, keys);
        QFETCH(Range, expected);
        makeView(500);
        for (const QKeyCombination key : keys)
            QTest::keyClick(m_view, key.key(), key.keyboardModifiers());
        if (expected.first < 0) // a page above the last line
            expected.first = 499 - m_view->verticalScrollBar()->pageStep();
        QCOMPARE(selection(), expected);
    }

    void copyGivesTabSeparatedLines_data()
    {
        QTest::addColumn<Range>("select"); // (-1, -1): nothing
        QTest::addColumn<QString>("expected");

        QTest::newRow("one line") << Range(4, 4) << reading(5) + u'\n';
        QTest::newRow("three lines")
            << Range(7, 9) << reading(8) + u'\n' + reading(9) + u'\n' + reading(10) + u'\n';
        QTest::newRow("selected upwards") << Range(1, 0) << reading(1) + u'\n' + reading(2) + u'\n';
        QTest::newRow("nothing selected leaves the clipboard alone")
            << Range(-1, -1) << u"untouched"_s;
    }

    void copyGivesTabSeparatedLines()
    {
        QFETCH(Range, select);
        QFETCH(QString, expected);
        makeView(10);
        QGuiApplication::clipboard()->setText(u"untouched"_s);
        if (select.first >= 0)
            m_view->selectLines(select.first, select.second);
        QTest::keyClick(m_view, Qt::Key_C, Qt::ControlModifier);
        QCOMPARE(QGuiApplication::clipboard()->text(), expected);
    }

    // The selection stays on its lines while the oldest lines go at the
    // limit; a selection whose lines all went is gone.
    void selectionFollowsItsLinesAtTheLimit_data()
    {
        QTest::addColumn<Range>("select");
        QTest::addColumn<Range>("expected");

        // 10 lines kept, 3 go at the limit: lines 1..10 -> 4..11.
        QTest::newRow("lines kept") << Range(5, 7) << Range(2, 4);
        QTest::newRow("lines partly gone") << Range(1, 6) << Range(0, 3);
        QTest::newRow("lines all gone") << Range(0, 2) << Range(-1, -1);
    }

    void selectionFollowsItsLinesAtTheLimit()
    {
        QFETCH(Range, select);
        QFETCH(Range, expected);
        makeView(10, 10, 3);
        m_view->selectLines(select.first, select.second);
        const QString firstKept = m_view->line(std::max<qsizetype>(select.first, 3));
        m_view->appendLines({ reading(11) });
        QCOMPARE(m_view->lineCount(), qsizetype(8));
        QCOMPARE(selection(), expected);
        if (expected.first >= 0)
            QCOMPARE(m_view->line(expected.first), firstKept);
    }

    void newestLineIsBroughtIntoViewWithASelection()
    {
        makeView(499);
        // A line wider than the view, drawn once, gives the view its width.
        m_view->appendLines({ QString(100, u'8') });
        QScrollBar* horizontal = m_view->horizontalScrollBar();
        QTRY_VERIFY(horizontal->maximum() > 0);
        QTest::keyClick(m_view, Qt::Key_Home);
        QCOMPARE(m_view->firstVisibleLine(), qsizetype(0));
        horizontal->setValue(horizontal->maximum());
        m_view->appendLines(readings(501, 2));
        QCOMPARE(m_view->lastVisibleLine(), qsizetype(501));
        QCOMPARE(m_view->line(501), reading(502));
        QCOMPARE(horizontal->value(), 0);
        QCOMPARE(selection(), Range(0, 0));
    }

    // The old text box was read by screen readers; the lines must still be.
    void screenReaderSeesTheLines()
    {
        makeView(10, 10, 3);
        m_window->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(m_window.get()));
        QAccessibleInterface* list = QAccessible::queryAccessibleInterface(m_view);
        QVERIFY(list);
        QCOMPARE(list->role(), QAccessible::List);
        QCOMPARE(list->text(QAccessible::Name), u"Log"_s);
        QCOMPARE(list->childCount(), 10);

        QAccessibleInterface* tenth = list->child(9);
        QVERIFY(tenth);
        QCOMPARE(tenth->role(), QAccessible::ListItem);
        QCOMPARE(tenth->text(QAccessible::Name), u"10, 12/7/2026, 4:19:14 AM"_s);
        QCOMPARE(tenth->parent(), list);
        QCOMPARE(list->indexOfChild(tenth), 9);
        QCOMPARE(list->child(9), tenth);
        QVERIFY(!tenth->state().offscreen);
        QCOMPARE(list->childAt(tenth->rect().center().x(), tenth->rect().center().y()), tenth);

        m_view->selectLines(8, 9);
        QVERIFY(tenth->state().selected);
        QVERIFY(!list->child(7)->state().selected);
        QCOMPARE(list->focusChild(), tenth);
        QVERIFY(tenth->state().focused);

        // At the limit the oldest lines go: an item keeps standing for its
        // line, and an item whose line went is no longer valid.
        QAccessibleInterface* first = list->child(0);
        m_view->appendLines({ reading(11) });
        QVERIFY(!first->isValid());
        QCOMPARE(list->indexOfChild(tenth), 6);
        QCOMPARE(tenth->text(QAccessible::Name), u"10, 12/7/2026, 4:19:14 AM"_s);
        QCOMPARE(list->childCount(), 8);
        QCOMPARE(list->child(0)->text(QAccessible::Name), u"4, 12/7/2026, 4:19:14 AM"_s);
    }

    // The old text box announced inserted text; a list announces its new
    // items: one for each new line of a receive pass that comes into
    // sight, sent with the pass, and nothing while no screen reader listens.
    void newLinesAreAnnounced_data()
    {
        QTest::addColumn<int>("before"); // lines in the view
        QTest::addColumn<int>("added"); // lines of the pass
        QTest::addColumn<int>("maxLines");
        QTest::addColumn<int>("trimLines");
        QTest::addColumn<bool>("listening");
        QTest::addColumn<int>("announced"); // -1: as many as the view shows

        QTest::newRow("one reading") << 10 << 1 << 100000 << 1000 << true << 1;
        QTest::newRow("five readings in one pass") << 10 << 5 << 100000 << 1000 << true << 5;
        QTest::newRow("a pass longer than the view: the lines in sight")
            << 10 << 500 << 100000 << 1000 << true << -1;
        QTest::newRow("oldest lines go at the limit: the new lines' rows")
            << 10 << 2 << 10 << 3 << true << 2;
        QTest::newRow("no screen reader: nothing") << 10 << 3 << 100000 << 1000 << false << 0;
    }

    void newLinesAreAnnounced()
    {
        QFETCH(int, before);
        QFETCH(int, added);
        QFETCH(int, maxLines);
        QFETCH(int, trimLines);
        QFETCH(bool, listening);
        QFETCH(int, announced);
        makeView(before, maxLines, trimLines);
        AccessibleEvents events(listening);
        QAccessibleInterface* list = QAccessible::queryAccessibleInterface(m_view);

        m_view->appendLines(readings(before + 1, added));
        if (announced < 0)
            announced = int(m_view->lastVisibleLine() - m_view->firstVisibleLine() + 1);
        const QList<RecordedEvent> created
            = AccessibleEvents::of(QAccessible::ObjectCreated, nullptr, list);
        QCOMPARE(created.size(), announced);
        // The newest lines, in order, each at its row.
        const int lastNumber = before + added;
        for (int i = 0; i < announced; ++i) {
            QCOMPARE(created[i].index, int(m_view->lineCount()) - announced + i);
            QCOMPARE(created[i].name, spoken(lastNumber - announced + 1 + i));
        }
    }

    // With the focus in the view and the newest line current (or none yet),
    // the newest reading becomes the current line and the reader is told,
    // once a pass; an operator who went back to an older line stays there.
    void newestLineTakesTheFocus_data()
    {
        QTest::addColumn<bool>("focused");
        QTest::addColumn<Current>("start");
        QTest::addColumn<Current>("expected");
        QTest::addColumn<int>("focusEvents");

        QTest::newRow("focused, no line chosen: the newest becomes current")
            << true << Current::None << Current::Newest << 1;
        QTest::newRow("focused, on the newest line: it follows")
            << true << Current::Newest << Current::Newest << 1;
        QTest::newRow("focused, back on an older line: the focus stays there")
            << true << Current::Older << Current::Unchanged << 0;
        QTest::newRow("focused, lines selected down to the newest: they stay")
            << true << Current::RangeToNewest << Current::Unchanged << 0;
        QTest::newRow("not focused, on the newest line: follows, nothing said")
            << false << Current::Newest << Current::Newest << 0;
        QTest::newRow("not focused, no line chosen: none chosen")
            << false << Current::None << Current::None << 0;
    }

    void newestLineTakesTheFocus()
    {
        QFETCH(bool, focused);
        QFETCH(Current, start);
        QFETCH(Current, expected);
        QFETCH(int, focusEvents);
        makeView(20);
        m_window->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(m_window.get()));
        if (start == Current::Newest)
            m_view->selectLines(19, 19);
        else if (start == Current::Older)
            m_view->selectLines(15, 15);
        else if (start == Current::RangeToNewest)
            m_view->selectLines(15, 19);
        if (!focused)
            m_view->clearFocus();
        QCOMPARE(m_view->hasFocus(), focused);
        const Range selectedBefore = selection();

        AccessibleEvents events;
        QAccessibleInterface* list = QAccessible::queryAccessibleInterface(m_view);
        m_view->appendLines(readings(21, 3));

        const qsizetype newest = 22;
        switch (expected) {
        case Current::Newest:
            QCOMPARE(selection(), Range(newest, newest));
            break;
        case Current::None:
            QVERIFY(!m_view->hasSelection());
            break;
        default:
            QCOMPARE(selection(), selectedBefore);
        }
        const QList<RecordedEvent> focus = AccessibleEvents::of(QAccessible::Focus, nullptr, list);
        QCOMPARE(focus.size(), focusEvents);
        if (focusEvents > 0) {
            QCOMPARE(focus.last().index, int(newest));
            QCOMPARE(focus.last().name, spoken(23));
            QCOMPARE(list->focusChild(), list->child(int(newest)));
            QVERIFY(list->focusChild()->state().focused);
            QVERIFY(!list->focusChild()->state().offscreen);
            // The new items are there before the focus goes to one.
            const QList<RecordedEvent> all = AccessibleEvents::all();
            const auto created = std::find_if(all.cbegin(), all.cend(),
                [](const RecordedEvent& e) { return e.type == QAccessible::ObjectCreated; });
            const auto focusAt = std::find_if(all.cbegin(), all.cend(),
                [](const RecordedEvent& e) { return e.type == QAccessible::Focus; });
            QVERIFY(created < focusAt);
        }
    }

    // Each announced line gets an item; hours of readings must not keep one
    // for every line. Items far out of sight go, the current line's stays.
    void announcedItemsDoNotPileUp()
    {
        makeView(10);
        m_view->selectLines(2, 2);
        AccessibleEvents events;
        QAccessibleInterface* list = QAccessible::queryAccessibleInterface(m_view);
        const QAccessible::Id current = QAccessible::uniqueId(list->child(2));
        m_view->appendLines({ reading(11) });
        const QAccessible::Id first = QAccessible::uniqueId(
            AccessibleEvents::of(QAccessible::ObjectCreated).first().target);
        for (int n = 12; n <= 5000; ++n)
            m_view->appendLines({ reading(n) });

        QVERIFY(!QAccessible::accessibleInterface(first));
        QAccessibleInterface* kept = QAccessible::accessibleInterface(current);
        QVERIFY(kept);
        QCOMPARE(kept->text(QAccessible::Name), spoken(3));
        QCOMPARE(list->focusChild(), kept);
        // The lines in sight are still there to be read, and so are the
        // ones a reader asks for again.
        QCOMPARE(list->child(int(m_view->lineCount() - 1))->text(QAccessible::Name), spoken(5000));
        QCOMPARE(list->child(10)->text(QAccessible::Name), spoken(11));
    }

    void clearEmptiesLinesAndSelection()
    {
        makeView(500);
        m_view->selectAll();
        m_view->clear();
        QCOMPARE(m_view->lineCount(), qsizetype(0));
        QVERIFY(!m_view->hasSelection());
        QCOMPARE(m_view->toPlainText(), QString());
        QCOMPARE(m_view->verticalScrollBar()->maximum(), 0);
        m_view->appendLines({ reading(1) });
        QCOMPARE(m_view->toPlainText(), reading(1));
    }

    // Columns stand on tab stops 80 pixels apart from the text's left edge,
    // whatever the width of the field before.
    void fieldsStartOnTabStops_data()
    {
        QTest::addColumn<QString>("line");
        QTest::addColumn<QList<int>>("fieldStarts");

        QTest::newRow("short fields") << u"1\t1\t1"_s << QList { 0, 80, 160 };
        QTest::newRow("first field past a stop")
            << u"1234567890123.5\t1\t1"_s << QList { 0, -1, -1 };
    }

    void fieldsStartOnTabStops()
    {
        QFETCH(QString, line);
        QFETCH(QList<int>, fieldStarts);
        makeView(0);
        m_view->appendLines({ line });
        QFont font = m_view->font();
        font.setPointSizeF(13.5);
        m_view->setFont(font);
        const QImage image = m_view->viewport()->grab().toImage();
        const QRgb background = image.pixel(image.width() - 1, image.height() - 1);
        const int height = m_view->fontMetrics().height();
        QList<int> inkStarts; // text's left edge = 0
        bool inInk = false;
        for (int x = 0; x < image.width(); ++x) {
            bool ink = false;
            for (int y = LogView::Margin; y < LogView::Margin + height && !ink; ++y)
                ink = image.pixel(x, y) != background;
            if (ink && !inInk)
                inkStarts.append(x - LogView::Margin);
            inInk = ink;
        }
        // Where a field is wider than a stop, the next stop after it.
        const int firstWidth = m_view->fontMetrics().horizontalAdvance(line.section(u'\t', 0, 0));
        for (int& start : fieldStarts) {
            if (start < 0)
                start = (firstWidth / LogView::TabStop + 1) * LogView::TabStop
                    + (&start - fieldStarts.data() - 1) * LogView::TabStop;
        }
        // Each field's ink starts within a few pixels of its stop (the
        // glyph's own left bearing); a field may be drawn in several runs.
        QStringList seen;
        for (const int ink : std::as_const(inkStarts))
            seen.append(QString::number(ink));
        for (const int start : std::as_const(fieldStarts)) {
            const bool found = std::any_of(inkStarts.cbegin(), inkStarts.cend(),
                [start](int ink) { return ink >= start && ink <= start + 4; });
            QVERIFY2(found,
                qPrintable(u"no field at %1; ink starts at %2"_s.arg(start).arg(seen.join(u' '))));
        }
    }
};

QTEST_MAIN(tst_LogView)
#include "tst_logview.moc"
