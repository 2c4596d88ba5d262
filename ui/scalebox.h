// SPDX-License-Identifier: MIT
#pragma once

// A "Change to:" box. A line edit drops its selection when it loses the focus
// (to a keypad button, or to the other tab's page); this one remembers its
// caret and selection from the moment it lost the focus and gets them back
// whenever it gets the focus again, so a keypad digit replaces the selected
// text just as a typed one would.

#include <QLineEdit>
#include <optional>

class ScaleBox : public QLineEdit
{
    Q_OBJECT

public:
    explicit ScaleBox(QWidget* parent);

    // Gives the box the focus with the caret and selection it last had.
    void takeFocus();

    // Caret after the last character, nothing selected; kept for the next
    // takeFocus() as well.
    void moveCaretToEnd();

protected:
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;

private:
    void restoreCaret();

    struct Caret
    {
        int anchor = 0;
        int position = 0;
    };
    std::optional<Caret> m_saved;
};
