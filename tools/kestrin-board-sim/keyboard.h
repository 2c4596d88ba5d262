// SPDX-License-Identifier: MIT
#pragma once

// The keys at the board's terminal: a line typed and ended with Enter is one
// command, so the board works with a plain terminal in its normal mode.

#include <QByteArray>
#include <QByteArrayView>
#include <QLatin1StringView>
#include <QList>
#include <unistd.h>

namespace boardsim {

struct KeyCommand
{
    enum class Kind
    {
        SendReading, // Enter alone
        Quit, // q
        ShowState, // s
        ToggleInputs, // digits 1 to 6, in `inputs`
        ShowKeys // h, and anything the board does not know
    };
    Kind kind = Kind::ShowKeys;
    QList<int> inputs;

    // What one typed line asks for; blanks around it do not count.
    static KeyCommand fromTyped(QByteArrayView typed);
};

inline constexpr QLatin1StringView KeyHelp
    = QLatin1StringView("keys (then Enter): Enter alone = send a reading, 1-6 = toggle input (1 "
                        "A. Accept, 2 B. Accept, 3 End of Board, 4 Zero, 5 Aux 1, 6 Aux 2), s "
                        "= show state, h = these keys, q = end");

class Keyboard
{
public:
    explicit Keyboard(int fd = STDIN_FILENO)
        : m_fd(fd)
    { }

    int fd() const { return m_fd; }
    // False once the input has ended; the board then goes on without keys.
    bool isOpen() const { return m_open; }

    // Reads what is there and returns the commands of the lines it completed.
    QList<KeyCommand> read();

private:
    int m_fd;
    bool m_open = true;
    QByteArray m_typed;
};

} // namespace boardsim
