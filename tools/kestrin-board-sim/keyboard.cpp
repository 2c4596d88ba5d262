// SPDX-License-Identifier: MIT
#include "keyboard.h"

#include <algorithm>
#include <cerrno>

namespace boardsim {

KeyCommand KeyCommand::fromTyped(QByteArrayView typed)
{
    const QByteArrayView keys = typed.trimmed();
    KeyCommand command;
    if (keys.isEmpty())
        command.kind = Kind::SendReading;
    else if (keys == "q")
        command.kind = Kind::Quit;
    else if (keys == "s")
        command.kind = Kind::ShowState;
    else if (std::all_of(keys.begin(), keys.end(), [](char c) { return c >= '1' && c <= '6'; })) {
        command.kind = Kind::ToggleInputs;
        for (const char c : keys)
            command.inputs.append(c - '0');
    }
    return command;
}

QList<KeyCommand> Keyboard::read()
{
    QList<KeyCommand> commands;
    char buffer[1024];
    const ssize_t n = ::read(m_fd, buffer, sizeof buffer);
    if (n < 0 && (errno == EINTR || errno == EAGAIN))
        return commands;
    if (n <= 0) {
        // End of input, or a background job cut off from its terminal.
        m_open = false;
        return commands;
    }
    m_typed.append(buffer, n);
    for (qsizetype newline = m_typed.indexOf('\n'); newline >= 0; newline = m_typed.indexOf('\n')) {
        commands.append(KeyCommand::fromTyped(QByteArrayView(m_typed).first(newline)));
        m_typed.remove(0, newline + 1);
    }
    return commands;
}

} // namespace boardsim
