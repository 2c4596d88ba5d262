// SPDX-License-Identifier: MIT
#include "ui/messagebox.h"

#include "ui/toolwindow.h"

#include <QGuiApplication>
#include <QMessageBox>
#include <QScreen>
#include <QShowEvent>
#include <QWidget>

using namespace Qt::StringLiterals;

namespace {

class TarvikMessageBox : public QMessageBox
{
public:
    TarvikMessageBox(const QString& text, QWidget* owner)
        : QMessageBox(QMessageBox::NoIcon, u"Tarvik"_s, text, QMessageBox::Ok, owner)
    { }

    void setVisible(bool visible) override
    {
        // The owner takes the focus before the box goes, so that the
        // window manager has no focus to hand on.
        if (!visible && isVisible() && parentWidget())
            takeFocusBack(parentWidget());
        QMessageBox::setVisible(visible);
    }

protected:
    void showEvent(QShowEvent* event) override
    {
        // The box knows its final size only here, before it is mapped.
        QMessageBox::showEvent(event);
        if (!parentWidget())
            centreOnScreen(this);
    }
};

} // namespace

void centreOnScreen(QWidget* window)
{
    const QScreen* screen = QGuiApplication::primaryScreen();
    if (!screen)
        return;
    const QRect area = screen->geometry();
    window->move(area.x() + (area.width() - window->width()) / 2,
        area.y() + (area.height() - window->height()) / 2);
}

void showTarvikMessage(QWidget* owner, const QString& text)
{
    QWidget* parent = owner && owner->isVisible() ? owner->window() : nullptr;
    TarvikMessageBox box(text, parent);
    box.exec();
}
