// SPDX-License-Identifier: MIT
#pragma once

// The faces the windows were laid out with. Where a face is missing, the next
// one of about the same width stands in, so captions fit the sizes laid down
// for them; the usual fallback sans serif faces are wider and clip "Change
// to:" and the tab captions.

#include <QFont>

QFont sansSerif(qreal points);
QFont arial(qreal points);
