// SPDX-License-Identifier: MIT
#include "core/result.h"

#include <cstring>

QString systemError(int code)
{
    return QString::fromLocal8Bit(std::strerror(code));
}
