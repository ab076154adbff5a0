#pragma once

#include <QByteArray>

class QTextDocument;

namespace kallomir {

// The document as rich text (RTF 1.x, 7-bit): font and colour tables, one paragraph per
// block with its alignment, one group per run of equal character formatting (font, size,
// colour, bold, italic, underline). Characters beyond ASCII are written as \'hh (cp1252)
// or \uN with a '?' fallback, so any RTF reader can show them.
QByteArray DocumentToRtf(const QTextDocument& document);

}  // namespace kallomir
