// SPDX-License-Identifier: MIT
#pragma once

// The main window's log view: the newest lines of the run in a LogRing, one
// uniform row each, and only the rows in sight are drawn. Adding the lines of
// a receive pass costs those lines, however many the view already holds.
//
// The operator selects whole lines (mouse, Shift+click, Shift with the arrow
// and page keys, Ctrl+A) and copies them with Ctrl+C or the context menu:
// each line as it is shown, fields separated by TABs, followed by a line end.
// Columns follow tab stops every 80 pixels, as in a plain text box.

#include "core/logring.h"

#include <QAbstractScrollArea>
#include <QHash>
#include <QStaticText>
#include <QStringList>
#include <vector>

class QTimer;

class LogView : public QAbstractScrollArea
{
    Q_OBJECT

public:
    explicit LogView(qsizetype maxLines, qsizetype trimLines, QWidget* parent = nullptr);

    // Adds the lines of one receive pass (without line ends) and brings the
    // newest into view, wherever the operator had scrolled to. A screen
    // reader is told of the new lines in sight; while it is active, a current
    // line on the newest (or none, with the focus here) moves on to the new
    // newest line, as if End were pressed.
    void appendLines(const QStringList& lines);
    void clear();

    qsizetype lineCount() const { return m_lines.size(); }
    QString line(qsizetype row) const { return m_lines.line(row); }
    // The lines joined by '\n', as a plain text box gives its text.
    QString toPlainText() const;

    bool hasSelection() const { return m_anchor >= 0; }
    qsizetype selectionFirst() const;
    qsizetype selectionLast() const;
    // Selects the lines from `anchor` to `current`, either way round.
    void selectLines(qsizetype anchor, qsizetype current);
    QString selectedText() const;
    void selectAll();
    void copy() const;

    qsizetype firstVisibleLine() const;
    // The last line shown whole, -1 when the view is empty.
    qsizetype lastVisibleLine() const;
    // The line drawn at `pos` in the viewport, -1 when none is.
    qsizetype lineAt(QPoint pos) const;
    // Where `row` is drawn in the viewport, empty when it is out of sight.
    QRect lineRect(qsizetype row) const;
    // The line the keyboard moves from (the selection's moving end), -1 when
    // nothing is selected.
    qsizetype currentLine() const { return m_current; }

    // Lines are numbered on from the first line the view was given, so a
    // number keeps standing for its line as the oldest lines go.
    qint64 lineNumber(qsizetype row) const { return m_firstNumber + row; }
    // The row of line `number` now, -1 once it is gone.
    qsizetype rowOfNumber(qint64 number) const
    {
        const qint64 row = number - m_firstNumber;
        return row >= 0 && row < m_lines.size() ? qsizetype(row) : -1;
    }

    static constexpr int Margin = 4;
    static constexpr int TabStop = 80;

protected:
    void paintEvent(QPaintEvent* event) override;
    void scrollContentsBy(int dx, int dy) override;
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;

private:
    int lineHeight() const;
    // Rows that fit whole in the viewport (at least one).
    int fullRows() const;
    void updateScrollBars();
    void scrollToNewest();
    void ensureVisible(qsizetype row);
    void moveCurrent(qsizetype row, bool extend);
    qsizetype rowAtClamped(int y) const;
    void endDrag();
    void autoScroll();
    void offerSelection() const;
    bool followsNewest() const;
    void announceNewLines(qsizetype added, bool followNewest);

    struct RowText
    {
        struct Field
        {
            int x = 0; // from the text's left edge
            QStaticText text;
        };
        std::vector<Field> fields;
        int width = 0;
    };
    const RowText& rowText(qsizetype row);

    LogRing m_lines;
    // Rows shaped for drawing, by their number since the view was made (row
    // 0 is m_firstNumber), so that they stay valid as the oldest lines go.
    QHash<qint64, RowText> m_rowTexts;
    qint64 m_firstNumber = 0;
    qsizetype m_anchor = -1;
    qsizetype m_current = -1;
    // The widest line drawn since the view was last emptied; lines never
    // drawn are not measured, which keeps an append free of text layout.
    int m_widest = 0;
    bool m_selecting = false;
    bool m_newestPending = false; // readings came during a drag
    int m_autoScrollStep = 0;
    QTimer* m_autoScrollTimer;
};
