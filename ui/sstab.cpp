// SPDX-License-Identifier: MIT
#include "ui/sstab.h"

#include "ui/accessibility.h"

#include <QAccessible>
#include <QStyleOptionFocusRect>
#include <QStyleOptionTab>
#include <QStyleOptionTabWidgetFrame>
#include <QStylePainter>

namespace {
constexpr int TextMargin = 3;
} // namespace

SSTabBar::SSTabBar(int tabsPerRow, int rowHeight, QWidget* parent)
    : QTabBar(parent)
    , m_tabsPerRow(tabsPerRow)
    , m_rowHeight(rowHeight)
{
    setUsesScrollButtons(false);
    setElideMode(Qt::ElideNone);
    setDrawBase(true);
    installAccessibleInterfaces();
    connect(this, &QTabBar::currentChanged, this, &SSTabBar::tellTabDeselected);
}

void SSTabBar::tellTabDeselected(int index)
{
    // Qt tells a screen reader which tab became selected, not which one
    // stopped being: a reader would keep both marked.
    if (QAccessible::isActive() && m_shownTab >= 0 && m_shownTab != index && m_shownTab < count()) {
        QAccessibleEvent event(this, QAccessible::SelectionRemove);
        event.setChild(m_shownTab);
        QAccessible::updateAccessibility(&event);
    }
    m_shownTab = index;
}

QSize SSTabBar::tabSizeHint(int) const
{
    // The tabs share the control's width, whatever their captions.
    const QWidget* control = parentWidget();
    const int width = control ? control->width() : QTabBar::width();
    return { width / m_tabsPerRow, m_rowHeight };
}

QSize SSTabBar::minimumTabSizeHint(int index) const
{
    return tabSizeHint(index);
}

void SSTabBar::paintEvent(QPaintEvent*)
{
    QStylePainter painter(this);
    const auto paintTab = [&](int index) {
        QStyleOptionTab option;
        initStyleOption(&option, index);
        painter.drawControl(QStyle::CE_TabBarTabShape, option);
        // The whole tab less a small margin: the style's own text rectangle
        // keeps a padding meant for single-line tabs, too wide for three
        // tabs in a narrow control.
        QRect textRect = option.rect.adjusted(TextMargin, TextMargin, -TextMargin, -TextMargin);
        if (index != currentIndex())
            textRect.translate(
                0, style()->pixelMetric(QStyle::PM_TabBarTabShiftVertical, &option, this));
        painter.drawItemText(textRect, Qt::AlignCenter | Qt::TextWordWrap, option.palette,
            option.state.testFlag(QStyle::State_Enabled), option.text, QPalette::WindowText);
        if (option.state.testFlag(QStyle::State_HasFocus)) {
            QStyleOptionFocusRect focus;
            focus.QStyleOption::operator=(option);
            focus.rect = textRect;
            painter.drawPrimitive(QStyle::PE_FrameFocusRect, focus);
        }
    };
    // The showing tab overlaps its neighbours, so it goes last.
    for (int i = 0; i < count(); ++i) {
        if (i != currentIndex())
            paintTab(i);
    }
    if (currentIndex() >= 0)
        paintTab(currentIndex());
}

SSTab::SSTab(int tabsPerRow, int rowHeight, QWidget* parent)
    : QTabWidget(parent)
{
    setTabBar(new SSTabBar(tabsPerRow, rowHeight, this));
}

QPoint SSTab::pageOrigin()
{
    // The same question QTabWidget asks its style when it lays the pages out
    // on showing; asked here so the pages can be filled before that.
    ensurePolished();
    tabBar()->ensurePolished();
    QStyleOptionTabWidgetFrame option;
    initStyleOption(&option);
    return style()->subElementRect(QStyle::SE_TabWidgetTabContents, &option, this).topLeft();
}
