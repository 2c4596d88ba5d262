// SPDX-License-Identifier: MIT
#pragma once

// A filled indicator: a small round lamp whose fill colour tells whether one
// of the board's inputs is on. It starts grey, as for an input that is off.

#include <QColor>
#include <QWidget>

class Shape : public QWidget
{
    Q_OBJECT
    Q_PROPERTY(QColor FillColor READ FillColor WRITE setFillColor)

public:
    explicit Shape(QWidget* parent);

    QColor FillColor() const { return m_fillColor; }
    void setFillColor(const QColor& colour);

    // Bright green for an input that is on, mid grey for one that is off.
    void setActive(bool active);
    // Whether the lamp shows an input that is on; a screen reader reads it
    // as a check box, checked while on, told of each change.
    bool isOn() const;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QColor m_fillColor;
};
