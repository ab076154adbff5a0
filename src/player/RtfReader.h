#pragma once

#include <QByteArray>
#include <QString>

class QTextDocument;

namespace kallomir {

// True when the bytes (after an optional UTF-8 byte-order mark and blanks) open a rich-text
// document.
bool LooksLikeRtf(const QByteArray& data);

// Replaces the document's content with the rich text in data: paragraphs and their
// alignment, bold, italic, underline, font (from the font table), size and colour (from the
// colour table), \'hh (cp1252) and \uN characters, tabs and line breaks. Unknown control
// words are ignored and unknown or starred destinations skipped (style sheets, document
// information, pictures, ...), so what other word processors write loads with its text.
// Data that is not rich text loads as plain text (UTF-8 when valid, else cp1252).
// Damaged input - unbalanced braces, cut-off words, random bytes - loads as far as it can be
// read and never fails.
void LoadRtfOrPlainText(QTextDocument& document, const QByteArray& data);

// The text a reader would see, paragraphs ended by '\n' (for lists and reports; no document
// is built, so it is cheap).
QString RtfToPlainText(const QByteArray& data);

}  // namespace kallomir
