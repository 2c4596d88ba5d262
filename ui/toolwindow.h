// SPDX-License-Identifier: MIT
#pragma once

// A tool window of the program: a window of its own, with no task bar (or
// pager) button, that the main window can still come in front of. A window
// made transient for the main window, or owned by it, would always stand
// above it.

class QWidget;

// Asks the window system to show `window` without a task bar button. Call
// it each time before the window is shown: on X11 the window manager drops
// the request when the window is hidden. On Windows the window is owned by
// a hidden window of its own, once; a window owned by another gets no task
// bar button.
void keepOffTaskBar(QWidget* window);

// Moves `window` to the workspace (virtual desktop) shown now, where the
// window manager lets a program do that (X11); nothing elsewhere.
void moveToCurrentWorkspace(QWidget* window);

// Gives `window`, shown, the keyboard focus at once (X11). For a message
// box's owner as the box closes: a window manager need not hand the focus
// back to a window off the task bar (openbox gives it to the main window
// instead). Nothing elsewhere: the system activates the owner itself.
void takeFocusBack(QWidget* window);
