#pragma once

#include "catalogue/CatalogueStore.h"

#include <cstdint>
#include <optional>

namespace kallomir {

class MessageBoxService;

// How the player's "Salva" ended.
struct TranscriptionSaveOutcome {
    enum class Kind {
        Saved,         // stored; row is the row as stored (with its new version)
        NoRow,         // the recording has no row: nothing stored
        KeptOther,     // another operator saved first and this one kept that text; row is it
        StillEditing,  // another operator saved first and this one went back to editing
    };
    Kind kind = Kind::NoRow;
    std::optional<CatalogueRow> row;
};

// The version to give when the row could not be read at the opening (the catalogue was out
// of reach): what it holds now was never shown, so it is not overwritten unasked.
inline constexpr std::int64_t kUnseenVersion = 0;

// The operator's question when someone else saved the row since it was opened (or when the
// row was never shown: openedVersion kUnseenVersion).
QString EditConflictQuestion(const QString& nome, const CatalogueRow& theirs,
                             std::int64_t openedVersion);

// Saves the player's marks and text into the row of `nome` that was opened at
// openedVersion (nothing: no check). When another operator saved the row since, the
// operator chooses: "Sì" overwrites it with this text, "No" keeps the other's text (this
// one is dropped, knowingly), "Annulla" goes back to editing with nothing stored. Nothing
// is overwritten without that question, also when a third save comes in between. A row
// never shown (kUnseenVersion) is asked about only when it holds a text or a mark.
// Catalogue failures are thrown as RuntimeError.
TranscriptionSaveOutcome SaveTranscription(CatalogueStore& catalogue, MessageBoxService& boxes,
                                           const QString& nome, const PlayerMarks& marks,
                                           const QString& etichetta, const QString& user,
                                           std::optional<std::int64_t> openedVersion);

}  // namespace kallomir
