// SPDX-License-Identifier: MIT
#pragma once

// Enter presses the push button that has the focus, as Space does. The
// program's windows are no dialogs and no button is a window's default, so
// Enter anywhere else (in a text box) presses nothing, and neither does
// Escape.

class QWidget;

// For every push button in `window` when called.
void pressFocusedButtonOnEnter(QWidget* window);
