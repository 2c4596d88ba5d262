// SPDX-License-Identifier: MIT
#pragma once

// What a screen reader sees of the windows beyond what Qt gives by itself:
// the two windows as a frame and a dialog rather than anonymous panes, the
// input lamps as read-only check boxes named by their captions, a value
// label named by its caption together with the value it shows, and the
// setup window's tabs with the showing one marked selected.

#include <QString>

class QLabel;

// Installs, once, what makes the interfaces described above. Widgets that
// need it call it from their constructors.
void installAccessibleInterfaces();

// Makes `value` read as "<caption> <its text>", e.g. "Current: 2540.12": a
// label alone would give a screen reader the number without what it is.
void setValueCaption(QLabel* value, const QString& caption);
