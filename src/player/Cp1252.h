#pragma once

#include <QChar>

#include <optional>

namespace kallomir {

// Windows code page 1252, the code page of the rich text other word processors write:
// Latin-1 with typographic characters in 0x80..0x9F.
QChar Cp1252ToUnicode(unsigned char byte);

// The cp1252 byte of a character, or nothing when the code page lacks it.
std::optional<unsigned char> UnicodeToCp1252(QChar ch);

}  // namespace kallomir
