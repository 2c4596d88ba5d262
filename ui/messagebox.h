// SPDX-License-Identifier: MIT
#pragma once

// The program's one kind of message box and the one way its windows are
// placed in the middle of the screen.

#include <QString>

class QWidget;

// Moves `window` so that it stands in the middle of the primary screen; its
// size is unchanged.
void centreOnScreen(QWidget* window);

// A modal box with `text`, an OK button, no icon and the caption "Tarvik".
// It belongs to `owner`, the window it is about: the window system hands the
// activation back to that window when the box closes. An owner that is not
// shown (the main window at start-up) would put the box near the screen's
// corner, so the box then stands alone in the middle of the screen.
void showTarvikMessage(QWidget* owner, const QString& text);
