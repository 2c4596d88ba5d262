// SPDX-License-Identifier: MIT
#pragma once

// What the program tells a screen reader, as Qt hands it to the platform.
// While an AccessibleEvents lives, Qt's accessibility is active (as when a
// screen reader runs) and every accessibility event is recorded here instead
// of going to the platform: no accessibility bus is needed.
//
// Qt passes events on only while its platform accessibility is active, and
// only the platform switches that on; offscreen nothing does, so this does
// it through Qt's platform interface, as Qt's own accessibility tests do.

#include <QAccessible>
#include <QList>
#include <QString>
#include <QtGui/private/qguiapplication_p.h>
#include <algorithm>
#include <iterator>
#include <qpa/qplatformaccessibility.h>
#include <qpa/qplatformintegration.h>

struct RecordedEvent
{
    QAccessible::Event type = QAccessible::InvalidEvent;
    // The object the event is about; compare it, do not call it later.
    QAccessibleInterface* target = nullptr;
    QAccessibleInterface* parent = nullptr;
    int index = -1; // the target's index in its parent
    QString name; // the target's name when the event came
    QAccessible::State changed; // StateChanged: which states changed
    QAccessible::State state; // StateChanged: the target's states then
};

class AccessibleEvents
{
public:
    // `listening`: whether a screen reader counts as active.
    explicit AccessibleEvents(bool listening = true)
    {
        recorded().clear();
        QAccessible::installUpdateHandler(&record);
        setPlatformActive(listening);
    }
    ~AccessibleEvents()
    {
        setPlatformActive(false);
        QAccessible::installUpdateHandler(nullptr);
        recorded().clear();
    }
    AccessibleEvents(const AccessibleEvents&) = delete;
    AccessibleEvents& operator=(const AccessibleEvents&) = delete;

    static QList<RecordedEvent> all() { return recorded(); }
    // The events of `type`, about `target` or (with `parent`) about its children.
    static QList<RecordedEvent> of(QAccessible::Event type,
        const QAccessibleInterface* target = nullptr, const QAccessibleInterface* parent = nullptr)
    {
        QList<RecordedEvent> found;
        std::copy_if(recorded().cbegin(), recorded().cend(), std::back_inserter(found),
            [&](const RecordedEvent& e) {
                return e.type == type && (!target || e.target == target)
                    && (!parent || e.parent == parent);
            });
        return found;
    }
    static void clear() { recorded().clear(); }

private:
    static void setPlatformActive(bool active)
    {
        if (QPlatformAccessibility* platform
            = QGuiApplicationPrivate::platformIntegration()->accessibility())
            platform->setActive(active);
    }

    static QList<RecordedEvent>& recorded()
    {
        static QList<RecordedEvent> events;
        return events;
    }

    static void record(QAccessibleEvent* event)
    {
        RecordedEvent e;
        e.type = event->type();
        // Only the kinds the tests look at are looked into: others come from
        // widgets being made or torn down.
        switch (e.type) {
        case QAccessible::ObjectCreated:
        case QAccessible::Focus:
        case QAccessible::StateChanged:
        case QAccessible::NameChanged:
        case QAccessible::Selection:
        case QAccessible::SelectionRemove:
            break;
        default:
            recorded().append(e);
            return;
        }
        e.target = event->accessibleInterface();
        if (e.target && e.target->isValid()) {
            e.name = e.target->text(QAccessible::Name);
            e.parent = e.target->parent();
            e.index = e.parent ? e.parent->indexOfChild(e.target) : -1;
            e.state = e.target->state();
        }
        if (e.type == QAccessible::StateChanged)
            e.changed = static_cast<QAccessibleStateChangeEvent*>(event)->changedStates();
        recorded().append(e);
    }
};
