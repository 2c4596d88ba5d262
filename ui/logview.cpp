// SPDX-License-Identifier: MIT
#include "ui/logview.h"

#include "ui/logviewaccessible.h"

#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QKeyEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>
#include <QStaticText>
#include <QStyle>
#include <QStyleOptionFocusRect>
#include <QTimer>
#include <algorithm>
#include <cstdlib>
#include <utility>

using namespace Qt::StringLiterals;

LogView::LogView(qsizetype maxLines, qsizetype trimLines, QWidget* parent)
    : QAbstractScrollArea(parent)
    , m_lines(maxLines, trimLines)
    , m_autoScrollTimer(new QTimer(this))
{
    static const bool accessibleInstalled
        = (QAccessible::installFactory(&LogViewAccessible::factory), true);
    Q_UNUSED(accessibleInstalled);
    setAccessibleName(tr("Log"));
    setFocusPolicy(Qt::StrongFocus);
    viewport()->setCursor(Qt::IBeamCursor);
    m_autoScrollTimer->setInterval(50);
    connect(m_autoScrollTimer, &QTimer::timeout, this, &LogView::autoScroll);
    updateScrollBars();
}

// ------------------------------------------------------------------ lines

void LogView::appendLines(const QStringList& lines)
{
    if (lines.isEmpty())
        return;
    const qsizetype oldSize = m_lines.size();
    const bool followNewest = QAccessible::isActive() && followsNewest();
    const qsizetype dropped = m_lines.append(lines);
    m_firstNumber += dropped;
    if (dropped > 0 && hasSelection()) {
        // The selection follows its lines; what went with the oldest is gone.
        m_anchor -= dropped;
        m_current -= dropped;
        if (m_anchor < 0 && m_current < 0) {
            m_anchor = m_current = -1;
        } else {
            m_anchor = std::max<qsizetype>(m_anchor, 0);
            m_current = std::max<qsizetype>(m_current, 0);
        }
    }
    updateScrollBars();
    if (m_selecting) {
        // A drag selection in progress keeps its lines under the mouse; the
        // newest line is brought into view when the button is let go.
        QScrollBar* vertical = verticalScrollBar();
        vertical->setValue(int(vertical->value() - dropped));
        m_newestPending = true;
    } else {
        // Scrolling moves what is drawn already (scrollContentsBy); what is
        // left to draw is the new rows, or everything once rows have gone.
        scrollToNewest();
    }
    if (dropped > 0) {
        viewport()->update();
    } else {
        const int height = lineHeight();
        const int top = Margin + int(oldSize - verticalScrollBar()->value()) * height;
        viewport()->update(0, std::max(top, 0), viewport()->width(),
            int(m_lines.size() - oldSize) * height + height);
    }
    if (QAccessible::isActive())
        announceNewLines(lines.size(), followNewest);
}

bool LogView::followsNewest() const
{
    if (m_selecting)
        return false;
    if (m_current < 0)
        return hasFocus();
    return m_current == m_lines.size() - 1 && m_anchor == m_current;
}

void LogView::announceNewLines(qsizetype added, bool followNewest)
{
    // What comes into sight: a pass longer than the view is not read out
    // line by line, as a sighted operator does not read it either.
    const qsizetype last = m_lines.size() - 1;
    const qsizetype count = std::min<qsizetype>({ added, m_lines.size(), fullRows() });
    LogViewAccessible::linesAdded(this, last - count + 1, last);
    if (followNewest)
        selectLines(last, last);
}

void LogView::clear()
{
    // Rows are numbered on; a shaped row never stands for another line.
    m_firstNumber += m_lines.size();
    m_lines.clear();
    m_rowTexts.clear();
    m_anchor = m_current = -1;
    m_widest = 0;
    m_selecting = false;
    m_autoScrollTimer->stop();
    updateScrollBars();
    horizontalScrollBar()->setValue(0);
    viewport()->update();
}

QString LogView::toPlainText() const
{
    QString text = m_lines.text(0, m_lines.size() - 1, u"\n");
    text.chop(1);
    return text;
}

// -------------------------------------------------------------- selection

qsizetype LogView::selectionFirst() const
{
    return hasSelection() ? std::min(m_anchor, m_current) : -1;
}

qsizetype LogView::selectionLast() const
{
    return hasSelection() ? std::max(m_anchor, m_current) : -1;
}

void LogView::selectLines(qsizetype anchor, qsizetype current)
{
    if (m_lines.isEmpty())
        return;
    const qsizetype last = m_lines.size() - 1;
    m_anchor = std::clamp<qsizetype>(anchor, 0, last);
    m_current = std::clamp<qsizetype>(current, 0, last);
    viewport()->update();
    if (QAccessible::isActive())
        LogViewAccessible::currentLineChanged(this);
}

QString LogView::selectedText() const
{
    return hasSelection() ? m_lines.text(selectionFirst(), selectionLast(), u"\n") : QString();
}

void LogView::selectAll()
{
    selectLines(0, m_lines.size() - 1);
    offerSelection();
}

void LogView::copy() const
{
    if (hasSelection())
        QGuiApplication::clipboard()->setText(selectedText());
}

void LogView::offerSelection() const
{
    // Where the window system has a selection (X11), selected text is offered
    // for the middle button as in any text box.
    QClipboard* clipboard = QGuiApplication::clipboard();
    if (hasSelection() && clipboard->supportsSelection())
        clipboard->setText(selectedText(), QClipboard::Selection);
}

// --------------------------------------------------------------- geometry

int LogView::lineHeight() const
{
    return std::max(fontMetrics().height(), 1);
}

int LogView::fullRows() const
{
    return std::max((viewport()->height() - 2 * Margin) / lineHeight(), 1);
}

void LogView::updateScrollBars()
{
    const int rows = fullRows();
    QScrollBar* vertical = verticalScrollBar();
    vertical->setRange(0, int(std::max<qsizetype>(m_lines.size() - rows, 0)));
    vertical->setPageStep(rows);
    vertical->setSingleStep(1);
    QScrollBar* horizontal = horizontalScrollBar();
    const int width = viewport()->width();
    horizontal->setRange(0, std::max(m_widest + 2 * Margin - width, 0));
    horizontal->setPageStep(width);
    horizontal->setSingleStep(std::max(fontMetrics().averageCharWidth() * 2, 1));
}

void LogView::scrollToNewest()
{
    verticalScrollBar()->setValue(verticalScrollBar()->maximum());
    // The newest line starts at the left edge.
    horizontalScrollBar()->setValue(0);
}

void LogView::ensureVisible(qsizetype row)
{
    QScrollBar* vertical = verticalScrollBar();
    if (row < vertical->value())
        vertical->setValue(int(row));
    else if (row >= vertical->value() + fullRows())
        vertical->setValue(int(row - fullRows() + 1));
}

qsizetype LogView::firstVisibleLine() const
{
    return m_lines.isEmpty() ? -1 : verticalScrollBar()->value();
}

qsizetype LogView::lastVisibleLine() const
{
    if (m_lines.isEmpty())
        return -1;
    return std::min<qsizetype>(verticalScrollBar()->value() + fullRows(), m_lines.size()) - 1;
}

QRect LogView::lineRect(qsizetype row) const
{
    if (row < firstVisibleLine() || row > lastVisibleLine())
        return {};
    const int height = lineHeight();
    return { 0, Margin + int(row - firstVisibleLine()) * height, viewport()->width(), height };
}

qsizetype LogView::lineAt(QPoint pos) const
{
    if (pos.y() < Margin)
        return -1;
    const qsizetype row = verticalScrollBar()->value() + (pos.y() - Margin) / lineHeight();
    return row < m_lines.size() ? row : -1;
}

qsizetype LogView::rowAtClamped(int y) const
{
    const int offset = y - Margin;
    const int rows = offset >= 0 ? offset / lineHeight() : -1;
    return std::clamp<qsizetype>(verticalScrollBar()->value() + rows, 0, m_lines.size() - 1);
}

// --------------------------------------------------------------- painting

void LogView::paintEvent(QPaintEvent* event)
{
    QPainter painter(viewport());
    painter.setFont(font());
    const int height = lineHeight();
    const int left = Margin - horizontalScrollBar()->value();
    const qsizetype top = verticalScrollBar()->value();
    const QRect area = event->rect();
    const QPalette& colours = palette();
    const qsizetype first = top + std::max(area.top() - Margin, 0) / height;
    const qsizetype firstSelected = selectionFirst();
    const qsizetype lastSelected = selectionLast();

    int widest = m_widest;
    for (qsizetype row = first; row < m_lines.size(); ++row) {
        const int y = Margin + int(row - top) * height;
        if (y > area.bottom())
            break;
        const bool selected = row >= firstSelected && row <= lastSelected;
        if (selected)
            painter.fillRect(QRect(0, y, viewport()->width(), height), colours.highlight());
        painter.setPen(colours.color(selected ? QPalette::HighlightedText : QPalette::Text));

        const RowText& text = rowText(row);
        for (const RowText::Field& field : text.fields)
            painter.drawStaticText(left + field.x, y, field.text);
        widest = std::max(widest, text.width);

        if (row == m_current && hasFocus()) {
            QStyleOptionFocusRect focus;
            focus.initFrom(this);
            focus.rect = QRect(0, y, viewport()->width(), height);
            focus.backgroundColor = colours.color(selected ? QPalette::Highlight : QPalette::Base);
            style()->drawPrimitive(QStyle::PE_FrameFocusRect, &focus, &painter, this);
        }
    }
    // Keep the shaped rows of about three screens; the rows in sight are
    // shaped again at the next paint.
    if (m_rowTexts.size() > 3 * fullRows() + 64)
        m_rowTexts.clear();
    if (widest > m_widest) {
        // Not from inside the paint: a scroll bar appearing resizes the
        // viewport.
        m_widest = widest;
        QMetaObject::invokeMethod(this, &LogView::updateScrollBars, Qt::QueuedConnection);
    }
}

const LogView::RowText& LogView::rowText(qsizetype row)
{
    const qint64 number = m_firstNumber + row;
    auto found = m_rowTexts.find(number);
    if (found != m_rowTexts.end())
        return *found;
    // Shaping a line costs more than the rest of a reading; a row is shaped
    // once, when it first comes into sight.
    RowText text;
    const QFontMetrics metrics = fontMetrics();
    const QString line = m_lines.line(row);
    int x = 0;
    qsizetype start = 0;
    for (;;) {
        const qsizetype tab = line.indexOf(u'\t', start);
        const QString field = line.mid(start, tab < 0 ? -1 : tab - start);
        if (!field.isEmpty()) {
            QStaticText shaped(field);
            shaped.setTextFormat(Qt::PlainText);
            shaped.prepare(QTransform(), font());
            text.fields.push_back({ x, shaped });
            x += metrics.horizontalAdvance(field);
        }
        if (tab < 0)
            break;
        x = (x / TabStop + 1) * TabStop;
        start = tab + 1;
    }
    text.width = x;
    return *m_rowTexts.insert(number, std::move(text));
}

void LogView::scrollContentsBy(int dx, int dy)
{
    // dy counts rows. A short scroll moves the pixels already drawn and
    // repaints the rows that come into sight; that is what a reading costs.
    if (std::abs(dy) >= fullRows()) {
        viewport()->update();
        return;
    }
    // The margin above the first row stays blank: only the rows move. (A
    // repaint of the margin as well would make the whole move a repaint.)
    viewport()->scroll(dx, dy * lineHeight(),
        QRect(0, Margin, viewport()->width(), viewport()->height() - Margin));
}

void LogView::resizeEvent(QResizeEvent* event)
{
    QScrollBar* vertical = verticalScrollBar();
    const bool atNewest = vertical->value() == vertical->maximum();
    updateScrollBars();
    if (atNewest)
        vertical->setValue(vertical->maximum());
    QAbstractScrollArea::resizeEvent(event);
}

void LogView::changeEvent(QEvent* event)
{
    if (event->type() == QEvent::FontChange) {
        m_rowTexts.clear();
        m_widest = 0;
        updateScrollBars();
        viewport()->update();
    }
    QAbstractScrollArea::changeEvent(event);
}

void LogView::focusInEvent(QFocusEvent* event)
{
    viewport()->update();
    QAbstractScrollArea::focusInEvent(event);
    if (QAccessible::isActive())
        LogViewAccessible::currentLineChanged(this);
}

void LogView::focusOutEvent(QFocusEvent* event)
{
    // A message box taking focus mid-drag may leave the release to another
    // window: the view must not stay held.
    if (m_selecting)
        endDrag();
    viewport()->update();
    QAbstractScrollArea::focusOutEvent(event);
}

// ------------------------------------------------------- keyboard, mouse

void LogView::moveCurrent(qsizetype row, bool extend)
{
    if (m_lines.isEmpty())
        return;
    row = std::clamp<qsizetype>(row, 0, m_lines.size() - 1);
    selectLines(extend && hasSelection() ? m_anchor : row, row);
    ensureVisible(row);
}

void LogView::keyPressEvent(QKeyEvent* event)
{
    if (event == QKeySequence::Copy) {
        copy();
        return;
    }
    if (event == QKeySequence::SelectAll) {
        selectAll();
        return;
    }
    const bool extend = event->modifiers() & Qt::ShiftModifier;
    // With no line chosen yet, the keys start from the last line in sight.
    const qsizetype from = m_current >= 0 ? m_current : lastVisibleLine();
    const bool fresh = m_current < 0;
    switch (event->key()) {
    case Qt::Key_Up:
        moveCurrent(fresh ? from : from - 1, extend);
        return;
    case Qt::Key_Down:
        moveCurrent(fresh ? from : from + 1, extend);
        return;
    case Qt::Key_PageUp:
        moveCurrent(from - fullRows(), extend);
        return;
    case Qt::Key_PageDown:
        moveCurrent(from + fullRows(), extend);
        return;
    case Qt::Key_Home:
        moveCurrent(0, extend);
        return;
    case Qt::Key_End:
        moveCurrent(m_lines.size() - 1, extend);
        return;
    case Qt::Key_Left:
        horizontalScrollBar()->triggerAction(QAbstractSlider::SliderSingleStepSub);
        return;
    case Qt::Key_Right:
        horizontalScrollBar()->triggerAction(QAbstractSlider::SliderSingleStepAdd);
        return;
    default:
        QAbstractScrollArea::keyPressEvent(event);
    }
}

void LogView::mousePressEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton || m_lines.isEmpty()) {
        QAbstractScrollArea::mousePressEvent(event);
        return;
    }
    const qsizetype row = rowAtClamped(event->position().toPoint().y());
    const bool extend = (event->modifiers() & Qt::ShiftModifier) && hasSelection();
    selectLines(extend ? m_anchor : row, row);
    m_selecting = true;
}

void LogView::mouseMoveEvent(QMouseEvent* event)
{
    if (!m_selecting || !(event->buttons() & Qt::LeftButton) || m_lines.isEmpty()) {
        QAbstractScrollArea::mouseMoveEvent(event);
        return;
    }
    const int y = event->position().toPoint().y();
    selectLines(m_anchor, rowAtClamped(y));
    // Dragged past an edge: the view scrolls on by itself while held there.
    m_autoScrollStep = y < 0 ? -1 : y >= viewport()->height() ? 1 : 0;
    if (m_autoScrollStep == 0)
        m_autoScrollTimer->stop();
    else if (!m_autoScrollTimer->isActive())
        m_autoScrollTimer->start();
}

void LogView::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton && m_selecting) {
        endDrag();
        offerSelection();
        return;
    }
    QAbstractScrollArea::mouseReleaseEvent(event);
}

void LogView::endDrag()
{
    m_selecting = false;
    m_autoScrollTimer->stop();
    if (std::exchange(m_newestPending, false)) {
        scrollToNewest();
        viewport()->update();
    }
}

void LogView::autoScroll()
{
    if (!m_selecting || m_lines.isEmpty()) {
        m_autoScrollTimer->stop();
        return;
    }
    QScrollBar* vertical = verticalScrollBar();
    vertical->setValue(vertical->value() + m_autoScrollStep);
    selectLines(m_anchor, m_autoScrollStep < 0 ? firstVisibleLine() : lastVisibleLine());
}

void LogView::contextMenuEvent(QContextMenuEvent* event)
{
    QMenu menu(this);
    QAction* copyAction = menu.addAction(u"&Copy"_s, this, &LogView::copy);
    copyAction->setShortcut(QKeySequence::Copy);
    copyAction->setEnabled(hasSelection());
    QAction* selectAllAction = menu.addAction(u"Select All"_s, this, &LogView::selectAll);
    selectAllAction->setShortcut(QKeySequence::SelectAll);
    selectAllAction->setEnabled(!m_lines.isEmpty());
    menu.exec(event->globalPos());
}
