// SPDX-License-Identifier: MIT
#pragma once

// The windows' positions and sizes are laid down in twips (1/1440 inch); 15
// twips make a logical pixel at 96 dots per inch.

#include <QRect>

constexpr int px(int twips)
{
    return twips / 15;
}

constexpr QRect twips(int left, int top, int width, int height)
{
    return { px(left), px(top), px(width), px(height) };
}
