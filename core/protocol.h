// SPDX-License-Identifier: MIT
#pragma once

// The encoder board's wire format: what the program sends and how the board's
// reply lines are split and decoded. No I/O here; the serial port lives in
// boardport.h and line framing in lineassembler.h.

#include <QByteArray>
#include <QLocale>
#include <QString>
#include <QStringView>

#include <array>
#include <optional>

namespace protocol {

// Poll requests.
inline constexpr QStringView RequestCounter3 = u"?CTR3";
inline constexpr QStringView RequestCounter4 = u"?CTR4";
inline constexpr QStringView RequestScale3 = u"?SCALE3";
inline constexpr QStringView RequestScale4 = u"?SCALE4";
inline constexpr QStringView RequestInputs = u"?INPUTS";

// Commands; the board never answers them.
inline constexpr QStringView CommandZero3 = u"CTR3=0";
inline constexpr QStringView CommandZero4 = u"CTR4=0";
inline constexpr QStringView CommandGoodPart = u"MESS=1";
inline constexpr QStringView CommandBadPart = u"MESS=0";
inline constexpr QStringView CommandScale3 = u"SCALE3=";
inline constexpr QStringView CommandScale4 = u"SCALE4=";

// A command line as it goes on the wire: the text, then CR LF, as Latin-1 bytes.
QByteArray commandLine(QStringView text);

// The twelve-digit (normally) argument of SCALE3=/SCALE4=: field A is the factor
// in hundredths, field B the factor / 25.4 in hundredths, both upper-case hex,
// zero-filled to six digits when they have 3..5 (A) or 2..5 (B) digits.
// `factor` is first rounded to two decimals (half away from zero on its
// 15-significant-digit decimal form).
QString scaleArgument(double factor);

enum class ReplyKind { Counter3, Counter4, Scale3, Scale4, Inputs, Reading, Other };

// Characters 1 to 3 compared exactly; anything shorter or unknown is Other.
ReplyKind replyKind(QStringView line);

// The three characters a reply of `kind` starts with ("<C3" ...); empty for
// Other.
QStringView replyText(ReplyKind kind);

// Character 4 up to, not including, the last character. Empty for lines of
// four characters or fewer.
QStringView valueField(QStringView line);

// 0-9, A-F and a-f.
bool isHexDigit(QChar c);

// Hexadecimal scale field decoded to a factor (count of hundredths / 100).
// Blanks, tabs and LFs are skipped anywhere; digits are read from the start to
// the first non-digit; 1..4 digits are signed 16-bit, 5..8 digits signed 32-bit
// two's complement; no digits, or more than eight, decode as 0.
double decodeScaleField(QStringView field);

// The six input flags of an "<IN" reply, indexed by indicator: [0] is Shape1
// ("A. Accept", position 9) ... [5] is Shape6 ("Aux 2", position 4). A flag is
// active only when its character is '1'; missing positions are inactive.
std::array<bool, 6> inputFlags(QStringView line);

// One reply line decoded to what the setup window and the log act on.
struct DecodedReply
{
    ReplyKind kind = ReplyKind::Other;
    double value = 0.0;               // position, scale factor or reading
    std::array<bool, 6> inputs {};    // for Inputs
};

// Decodes a complete line. Returns nothing for a line to be ignored: an
// unknown kind, a value reply shorter than four characters, or a position or
// reading whose decimal field is no number. A reading's value is already taken
// to three decimals, exactly as the position format would show it.
std::optional<DecodedReply> decodeReply(QStringView line, const QLocale& locale);

} // namespace protocol
