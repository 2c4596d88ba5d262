// SPDX-License-Identifier: MIT
#pragma once

// What a screen reader sees of the log view: a list whose items are the kept
// lines, each named by its text, with the selected lines and the current one
// marked. Items are made only when asked for and stand for their line, not
// for a row number, so they stay right (or become invalid) as the oldest
// lines go at the limit.

#include <QAccessibleWidget>
#include <QHash>

class LogView;

class LogViewAccessible : public QAccessibleWidget
{
public:
    explicit LogViewAccessible(LogView* view);
    ~LogViewAccessible() override;

    int childCount() const override;
    QAccessibleInterface* child(int index) const override;
    int indexOfChild(const QAccessibleInterface* child) const override;
    QAccessibleInterface* childAt(int x, int y) const override;
    QAccessibleInterface* focusChild() const override;

    // Installed once, for every LogView.
    static QAccessibleInterface* factory(const QString& className, QObject* object);
    // Tells a screen reader that the current line moved.
    static void currentLineChanged(LogView* view);
    // Tells a screen reader of new lines, rows `first` to `last`.
    static void linesAdded(LogView* view, qsizetype first, qsizetype last);

private:
    LogView* view() const;
    void forgetGoneLines() const;
    void forgetLinesOutOfSight() const;

    // Item interfaces by line number, as QAccessible registered them.
    mutable QHash<qint64, QAccessible::Id> m_items;
    mutable qint64 m_oldestSeen = 0;
};
