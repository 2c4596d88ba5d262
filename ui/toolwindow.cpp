// SPDX-License-Identifier: MIT
#include "ui/toolwindow.h"

#include <QGuiApplication>
#include <QWidget>
#include <QWindow>

using namespace Qt::StringLiterals;

#if defined(Q_OS_WIN)

void keepOffTaskBar(QWidget* window)
{
    // A window owned by another gets no task bar button and always stands
    // above its owner. Owned by a hidden window of its own rather than by
    // the main window, it can still go behind the main window. Qt makes the
    // transient parent the owner each time it shows the window.
    const QString ownerName = u"taskBarOwner"_s;
    window->winId(); // the native window, and so its windowHandle()
    QWindow* handle = window->windowHandle();
    if (!handle)
        return;
    auto* owner = window->findChild<QWindow*>(ownerName, Qt::FindDirectChildrenOnly);
    if (!owner) {
        // Never shown; deleted with the window. A QObject child only, not a
        // child window.
        owner = new QWindow();
        owner->setObjectName(ownerName);
        static_cast<QObject*>(owner)->setParent(window);
        owner->create();
    }
    if (handle->transientParent() != owner)
        handle->setTransientParent(owner);
}

void moveToCurrentWorkspace(QWidget*) { }

void takeFocusBack(QWidget*) { }

#elif QT_CONFIG(xcb)

#include <QtGui/qguiapplication_platform.h>
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <vector>
#include <xcb/xcb.h>

namespace {

// Qt's own connection to the X server; none on other platforms (offscreen,
// Wayland).
xcb_connection_t* x11Connection()
{
    if (QGuiApplication::platformName() != u"xcb"_s)
        return nullptr;
    const auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    return x11 ? x11->connection() : nullptr;
}

xcb_atom_t atom(xcb_connection_t* connection, const char* name)
{
    xcb_intern_atom_reply_t* reply = xcb_intern_atom_reply(
        connection, xcb_intern_atom(connection, 0, uint16_t(std::strlen(name)), name), nullptr);
    const xcb_atom_t result = reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
    std::free(reply);
    return result;
}

// A property's 32-bit values; none when the window does not have it.
std::vector<uint32_t> property(
    xcb_connection_t* connection, xcb_window_t window, xcb_atom_t name, xcb_atom_t type)
{
    std::vector<uint32_t> values;
    xcb_get_property_reply_t* reply = xcb_get_property_reply(
        connection, xcb_get_property(connection, 0, window, name, type, 0, 1024), nullptr);
    if (reply && reply->format == 32) {
        const auto* data = static_cast<const uint32_t*>(xcb_get_property_value(reply));
        values.assign(data, data + xcb_get_property_value_length(reply) / 4);
    }
    std::free(reply);
    return values;
}

xcb_window_t rootOf(xcb_connection_t* connection, xcb_window_t window)
{
    xcb_query_tree_reply_t* reply
        = xcb_query_tree_reply(connection, xcb_query_tree(connection, window), nullptr);
    const xcb_window_t root = reply ? reply->root : xcb_window_t(XCB_WINDOW_NONE);
    std::free(reply);
    return root;
}

} // namespace

void keepOffTaskBar(QWidget* window)
{
    xcb_connection_t* connection = x11Connection();
    if (!connection)
        return;
    // Set on the window before it is mapped, where the window manager reads
    // it; Qt keeps the states it does not set itself when it maps the
    // window. No WM_TRANSIENT_FOR: that would keep the window above the
    // main window.
    const auto id = xcb_window_t(window->winId());
    const xcb_atom_t state = atom(connection, "_NET_WM_STATE");
    std::vector<uint32_t> states = property(connection, id, state, XCB_ATOM_ATOM);
    for (const char* name : { "_NET_WM_STATE_SKIP_TASKBAR", "_NET_WM_STATE_SKIP_PAGER" }) {
        const xcb_atom_t wanted = atom(connection, name);
        if (std::find(states.begin(), states.end(), wanted) == states.end())
            states.push_back(wanted);
    }
    xcb_change_property(connection, XCB_PROP_MODE_REPLACE, id, state, XCB_ATOM_ATOM, 32,
        uint32_t(states.size()), states.data());
    xcb_flush(connection);
}

void moveToCurrentWorkspace(QWidget* window)
{
    xcb_connection_t* connection = x11Connection();
    if (!connection)
        return;
    const auto id = xcb_window_t(window->winId());
    const xcb_window_t root = rootOf(connection, id);
    const xcb_atom_t desktop = atom(connection, "_NET_WM_DESKTOP");
    const std::vector<uint32_t> shown
        = property(connection, root, atom(connection, "_NET_CURRENT_DESKTOP"), XCB_ATOM_CARDINAL);
    // A hidden window has no workspace; one on every workspace is here too.
    const std::vector<uint32_t> on = property(connection, id, desktop, XCB_ATOM_CARDINAL);
    constexpr uint32_t EveryWorkspace = 0xFFFFFFFF;
    if (shown.empty() || on.empty() || on.front() == shown.front() || on.front() == EveryWorkspace)
        return;
    // The window manager moves a window it manages when asked through the
    // root window.
    xcb_client_message_event_t message {};
    message.response_type = XCB_CLIENT_MESSAGE;
    message.format = 32;
    message.window = id;
    message.type = desktop;
    message.data.data32[0] = shown.front();
    message.data.data32[1] = 1; // asked by an application
    xcb_send_event(connection, 0, root,
        XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
        reinterpret_cast<const char*>(&message));
    xcb_flush(connection);
}

void takeFocusBack(QWidget* window)
{
    xcb_connection_t* connection = x11Connection();
    if (!connection || !window->isVisible())
        return;
    // Only a window mapped on the screen can take the focus (not one
    // minimised or on another workspace).
    const auto id = xcb_window_t(window->winId());
    xcb_get_window_attributes_reply_t* attributes = xcb_get_window_attributes_reply(
        connection, xcb_get_window_attributes(connection, id), nullptr);
    const bool viewable = attributes && attributes->map_state == XCB_MAP_STATE_VIEWABLE;
    std::free(attributes);
    if (!viewable)
        return;
    xcb_set_input_focus(connection, XCB_INPUT_FOCUS_PARENT, id, XCB_CURRENT_TIME);
    xcb_flush(connection);
}

#else

void keepOffTaskBar(QWidget*) { }

void moveToCurrentWorkspace(QWidget*) { }

void takeFocusBack(QWidget*) { }

#endif
