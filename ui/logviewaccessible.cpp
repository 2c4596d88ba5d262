// SPDX-License-Identifier: MIT
#include "ui/logviewaccessible.h"

#include "ui/logview.h"

#include <QPointer>
#include <QWidget>
#include <QWindow>
#include <algorithm>

using namespace Qt::StringLiterals;

namespace {

class LogLineAccessible : public QAccessibleInterface
{
public:
    LogLineAccessible(LogView* view, qint64 number)
        : m_view(view)
        , m_number(number)
    { }

    qint64 number() const { return m_number; }
    // The line's row now, -1 once it is gone.
    qsizetype row() const { return m_view ? m_view->rowOfNumber(m_number) : -1; }

    bool isValid() const override { return row() >= 0; }
    QObject* object() const override { return nullptr; }
    QWindow* window() const override { return m_view ? m_view->window()->windowHandle() : nullptr; }
    QAccessibleInterface* parent() const override
    {
        return QAccessible::queryAccessibleInterface(m_view.data());
    }
    QAccessibleInterface* child(int) const override { return nullptr; }
    int childCount() const override { return 0; }
    int indexOfChild(const QAccessibleInterface*) const override { return -1; }
    QAccessibleInterface* childAt(int, int) const override { return nullptr; }

    QString text(QAccessible::Text t) const override
    {
        const qsizetype r = row();
        if (t != QAccessible::Name || r < 0)
            return {};
        // Fields are TAB-separated; a screen reader pauses at a comma.
        return m_view->line(r).replace(u'\t', u", "_s);
    }
    void setText(QAccessible::Text, const QString&) override { }

    QRect rect() const override
    {
        const qsizetype r = row();
        if (r < 0)
            return {};
        const QRect inViewport = m_view->lineRect(r);
        if (inViewport.isEmpty())
            return {};
        return { m_view->viewport()->mapToGlobal(inViewport.topLeft()), inViewport.size() };
    }

    QAccessible::Role role() const override { return QAccessible::ListItem; }

    QAccessible::State state() const override
    {
        QAccessible::State s;
        const qsizetype r = row();
        if (r < 0) {
            s.invalid = true;
            return s;
        }
        s.selectable = true;
        s.focusable = true;
        s.selected = m_view->selectionFirst() <= r && r <= m_view->selectionLast();
        s.focused = m_view->hasFocus() && r == m_view->currentLine();
        if (m_view->lineRect(r).isEmpty())
            s.offscreen = true;
        return s;
    }

private:
    QPointer<LogView> m_view;
    qint64 m_number;
};

} // namespace

LogViewAccessible::LogViewAccessible(LogView* view)
    : QAccessibleWidget(view, QAccessible::List)
{ }

LogViewAccessible::~LogViewAccessible()
{
    for (const QAccessible::Id id : std::as_const(m_items))
        QAccessible::deleteAccessibleInterface(id);
}

LogView* LogViewAccessible::view() const
{
    return static_cast<LogView*>(widget());
}

void LogViewAccessible::forgetGoneLines() const
{
    // Only when lines went since the last look: a reader walking all the
    // items must not pay for the whole cache at each one.
    const qint64 oldest = view()->lineNumber(0);
    if (oldest == m_oldestSeen)
        return;
    m_oldestSeen = oldest;
    for (auto it = m_items.begin(); it != m_items.end();) {
        if (it.key() < oldest) {
            QAccessible::deleteAccessibleInterface(it.value());
            it = m_items.erase(it);
        } else {
            ++it;
        }
    }
}

int LogViewAccessible::childCount() const
{
    return int(view()->lineCount());
}

QAccessibleInterface* LogViewAccessible::child(int index) const
{
    if (index < 0 || index >= view()->lineCount())
        return nullptr;
    forgetGoneLines();
    const qint64 number = view()->lineNumber(index);
    if (const auto found = m_items.constFind(number); found != m_items.cend())
        return QAccessible::accessibleInterface(found.value());
    auto* item = new LogLineAccessible(view(), number);
    m_items.insert(number, QAccessible::registerAccessibleInterface(item));
    return item;
}

int LogViewAccessible::indexOfChild(const QAccessibleInterface* child) const
{
    if (!child || child->role() != QAccessible::ListItem || child->parent() != this)
        return -1;
    return int(static_cast<const LogLineAccessible*>(child)->row());
}

QAccessibleInterface* LogViewAccessible::childAt(int x, int y) const
{
    const QPoint inViewport = view()->viewport()->mapFromGlobal(QPoint(x, y));
    const qsizetype row = view()->lineAt(inViewport);
    return row >= 0 ? child(int(row)) : nullptr;
}

QAccessibleInterface* LogViewAccessible::focusChild() const
{
    const qsizetype current = view()->currentLine();
    return view()->hasFocus() && current >= 0 ? child(int(current)) : nullptr;
}

QAccessibleInterface* LogViewAccessible::factory(const QString& className, QObject* object)
{
    if (className == u"LogView"_s && object && object->isWidgetType())
        return new LogViewAccessible(static_cast<LogView*>(object));
    return nullptr;
}

void LogViewAccessible::currentLineChanged(LogView* view)
{
    if (!view->hasFocus() || view->currentLine() < 0)
        return;
    QAccessibleInterface* list = QAccessible::queryAccessibleInterface(view);
    if (QAccessibleInterface* item = list ? list->child(int(view->currentLine())) : nullptr) {
        QAccessibleEvent event(item, QAccessible::Focus);
        QAccessible::updateAccessibility(&event);
    }
}

void LogViewAccessible::linesAdded(LogView* view, qsizetype first, qsizetype last)
{
    auto* list = static_cast<LogViewAccessible*>(QAccessible::queryAccessibleInterface(view));
    if (!list)
        return;
    list->forgetLinesOutOfSight();
    for (qsizetype row = first; row <= last; ++row) {
        if (QAccessibleInterface* item = list->child(int(row))) {
            QAccessibleEvent event(item, QAccessible::ObjectCreated);
            QAccessible::updateAccessibility(&event);
        }
    }
}

void LogViewAccessible::forgetLinesOutOfSight() const
{
    // Every line announced gets an item; with a reader listening for hours
    // they would pile up to one for each kept line. Once there are many,
    // those far out of sight go (the current line's stays): a reader that
    // asks for such a line again gets a new item.
    constexpr qsizetype KeptItems = 2048;
    if (m_items.size() <= KeptItems)
        return;
    const LogView* v = view();
    const qint64 current = v->currentLine() >= 0 ? v->lineNumber(v->currentLine()) : -1;
    const qint64 lastShown = v->lineNumber(std::max<qsizetype>(v->lastVisibleLine(), 0));
    const qint64 keepFrom = lastShown - KeptItems / 2;
    for (auto it = m_items.begin(); it != m_items.end();) {
        if (it.key() < keepFrom && it.key() != current) {
            QAccessible::deleteAccessibleInterface(it.value());
            it = m_items.erase(it);
        } else {
            ++it;
        }
    }
}
