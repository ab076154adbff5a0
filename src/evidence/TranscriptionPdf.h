#pragma once

#include <QByteArray>
#include <QString>

namespace kallomir {

// A transcription (the catalogue's rich text) laid out on A4 pages as a PDF document.
// Needs the graphical application (for its fonts); RuntimeError 75 without it.
QByteArray TranscriptionPdf(const QString& traduzione, const QString& title);

}  // namespace kallomir
