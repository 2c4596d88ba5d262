// SPDX-License-Identifier: MIT
#include "ui/enterpress.h"

#include <QKeyEvent>
#include <QPushButton>

namespace {

class EnterPress : public QObject
{
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() != QEvent::KeyPress)
            return false;
        const auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() != Qt::Key_Return && key->key() != Qt::Key_Enter)
            return false;
        if ((key->modifiers() & ~Qt::KeypadModifier) != Qt::NoModifier)
            return false;
        auto* button = qobject_cast<QPushButton*>(watched);
        if (!button || !button->isEnabled())
            return false;
        // One press a keystroke, as with Space: a held key does not repeat
        // a command to the board.
        if (!key->isAutoRepeat())
            button->click();
        return true;
    }
};

} // namespace

void pressFocusedButtonOnEnter(QWidget* window)
{
    auto* filter = new EnterPress(window);
    for (QPushButton* button : window->findChildren<QPushButton*>())
        button->installEventFilter(filter);
}
