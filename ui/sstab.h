// SPDX-License-Identifier: MIT
#pragma once

// The setup window's tab control: a fixed number of equally wide tabs in one
// row of a given height, captions word-wrapped inside their tab (so
// "Inputs / Outputs" stands on two lines rather than being cut), and pages
// whose controls are placed from the control's own top-left corner, row of
// tabs included.

#include <QTabBar>
#include <QTabWidget>

class SSTabBar : public QTabBar
{
    Q_OBJECT

public:
    SSTabBar(int tabsPerRow, int rowHeight, QWidget* parent);

protected:
    QSize tabSizeHint(int index) const override;
    QSize minimumTabSizeHint(int index) const override;
    void paintEvent(QPaintEvent* event) override;

private:
    void tellTabDeselected(int index);

    int m_tabsPerRow;
    int m_rowHeight;
    int m_shownTab = -1;
};

class SSTab : public QTabWidget
{
    Q_OBJECT

public:
    SSTab(int tabsPerRow, int rowHeight, QWidget* parent);

    // The Tab property: the index of the showing tab, counted from 0.
    int Tab() const { return currentIndex(); }
    void setTab(int index) { setCurrentIndex(index); }

    // Where a page's top-left corner stands inside the tab control, once the
    // control has its final size. Page controls are positioned by
    // subtracting this from their place in the tab control.
    QPoint pageOrigin();
};
