#pragma once

#include "catalogue/CatalogueStore.h"

#include <QString>
#include <QStringList>

#include <optional>

namespace kallomir {

struct GeneralSound;

// The plain text of a stored transcription, as the word index reads it: what a reader sees
// of the rich text, never its control words.
QString TranscriptionPlainText(const QString& traduzione);

// The folder holding the recording file `nome`: first the folders given (the player's, the
// one recording now), then every folder under DataPath and the fallback folder, two levels
// deep as the recorder makes them. Empty when the file is nowhere.
QString FindRecordingFolder(const QString& nome, const QStringList& firstLooks,
                            const QStringList& roots);

// Where the first word whose stem is one of stems lies in text.
struct TextMatch {
    int position = 0;
    int length = 0;
};
std::optional<TextMatch> FirstMatch(const QString& text, const QStringList& stems);

// A search snippet as rich text: the text escaped, each matched word highlighted.
QString SnippetHtml(const QString& snippet);

// The three marks as one short text: "A", "T", "M" for Ascoltato, Trascritto, Masterizzato.
QString MarksText(const CatalogueRow& row);

}  // namespace kallomir
