// SPDX-License-Identifier: MIT
#include "messages.h"

#include "core/result.h"

#include <cerrno>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace boardsim {

void say(const QString& text)
{
    QByteArray bytes = "kestrin-board-sim: " + text.toUtf8();
    bytes.append('\n');
    [[maybe_unused]] const auto written = ::write(STDERR_FILENO, bytes.constData(), bytes.size());
}

QString whatFailed(const QString& what)
{
    return u"%1: %2"_s.arg(what, ::systemError(errno));
}

QByteArray escaped(QByteArrayView bytes)
{
    QByteArray out;
    out.reserve(bytes.size());
    for (const char c : bytes) {
        const auto u = static_cast<unsigned char>(c);
        if (c == '\\')
            out.append("\\\\");
        else if (u < 0x20 || u == 0x7f)
            out.append("\\x").append(QByteArray::number(u, 16).toUpper().rightJustified(2, '0'));
        else
            out.append(c);
    }
    return out;
}

} // namespace boardsim
