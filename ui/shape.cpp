// SPDX-License-Identifier: MIT
#include "ui/shape.h"

#include "ui/accessibility.h"

#include <QAccessible>
#include <QPainter>

namespace {

const QColor InputActive(0, 255, 0);
const QColor InputInactive(128, 128, 128);

} // namespace

Shape::Shape(QWidget* parent)
    : QWidget(parent)
    , m_fillColor(InputInactive)
{
    installAccessibleInterfaces();
}

void Shape::setActive(bool active)
{
    setFillColor(active ? InputActive : InputInactive);
}

bool Shape::isOn() const
{
    return m_fillColor == InputActive;
}

void Shape::setFillColor(const QColor& colour)
{
    if (colour == m_fillColor)
        return;
    const bool wasOn = isOn();
    m_fillColor = colour;
    update();
    if (isOn() != wasOn) {
        QAccessible::State changed;
        changed.checked = true;
        QAccessibleStateChangeEvent event(this, changed);
        QAccessible::updateAccessibility(&event);
    }
}

void Shape::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(Qt::black, 1));
    painter.setBrush(m_fillColor);
    painter.drawEllipse(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5));
}
