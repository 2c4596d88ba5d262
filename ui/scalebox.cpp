// SPDX-License-Identifier: MIT
#include "ui/scalebox.h"

#include <QFocusEvent>
#include <algorithm>

ScaleBox::ScaleBox(QWidget* parent)
    : QLineEdit(parent)
{ }

void ScaleBox::takeFocus()
{
    // A box that gets the focus has put its caret back already (focusInEvent).
    // One that had the focus, or whose window is not active and so gets no
    // focus event yet, does it here: the keypad's key arrives either way.
    setFocus(Qt::OtherFocusReason);
    restoreCaret();
}

void ScaleBox::focusInEvent(QFocusEvent* event)
{
    // However the focus comes back (a keypad key, the tab page handing it to
    // its last focused control, the keyboard), the box has its old caret and
    // selection again; a mouse click then places the caret after this.
    QLineEdit::focusInEvent(event);
    restoreCaret();
}

void ScaleBox::restoreCaret()
{
    if (!m_saved)
        return;
    // The text may have been emptied by Apply meanwhile.
    const int length = static_cast<int>(text().size());
    const int anchor = std::clamp(m_saved->anchor, 0, length);
    const int position = std::clamp(m_saved->position, 0, length);
    m_saved.reset();
    if (anchor == position)
        setCursorPosition(position);
    else
        setSelection(anchor, position - anchor);
}

void ScaleBox::moveCaretToEnd()
{
    const int length = static_cast<int>(text().size());
    setCursorPosition(length);
    m_saved = Caret { length, length };
}

void ScaleBox::focusOutEvent(QFocusEvent* event)
{
    // Taken before the line edit deselects.
    const int position = cursorPosition();
    int anchor = position;
    if (hasSelectedText()) {
        const int start = selectionStart();
        const int end = selectionEnd();
        anchor = position == start ? end : start;
    }
    m_saved = Caret { anchor, position };
    QLineEdit::focusOutEvent(event);
}
