#include "catalogue/TranscriptionSave.h"

#include "core/MessageBoxService.h"

namespace kallomir {

namespace {

bool HoldsSomething(const CatalogueRow& row) {
    return row.letto || row.scritto || row.tradotto ||
           (row.traduzione && !row.traduzione->trimmed().isEmpty());
}

}  // namespace

QString EditConflictQuestion(const QString& nome, const CatalogueRow& theirs,
                             std::int64_t openedVersion) {
    const QString user = theirs.user.trimmed().isEmpty()
                             ? QString()
                             : QStringLiteral(" (utente «%1»)").arg(theirs.user);
    const QString what =
        openedVersion == kUnseenVersion
            ? QStringLiteral(
                  "Quando la registrazione %1 è stata aperta il catalogo non era "
                  "raggiungibile; ora il catalogo contiene per essa un testo o dei "
                  "segni salvati%2.")
                  .arg(nome, user)
            : QStringLiteral(
                  "La registrazione %1 è stata salvata da un altro operatore%2 dopo "
                  "che è stata aperta qui.")
                  .arg(nome, user);
    return what + QStringLiteral(
                      "\n\nSì: salvare questo testo al posto di quello nel catalogo.\n"
                      "No: tenere il testo del catalogo e scartare queste modifiche.\n"
                      "Annulla: continuare a modificare senza salvare.");
}

TranscriptionSaveOutcome SaveTranscription(CatalogueStore& catalogue, MessageBoxService& boxes,
                                           const QString& nome, const PlayerMarks& marks,
                                           const QString& etichetta, const QString& user,
                                           std::optional<std::int64_t> openedVersion) {
    using Kind = TranscriptionSaveOutcome::Kind;
    std::optional<std::int64_t> expected = openedVersion;
    for (;;) {
        PlayerSaveResult result = catalogue.playerSave(nome, marks, etichetta, user, expected);
        switch (result.status) {
            case PlayerSaveResult::Status::Saved:
                return {Kind::Saved, std::move(result.row)};
            case PlayerSaveResult::Status::NoRow:
                return {Kind::NoRow, std::nullopt};
            case PlayerSaveResult::Status::Changed:
                break;
        }
        // A row that was never shown but holds nothing yet costs nothing to write over.
        if (expected == kUnseenVersion && !HoldsSomething(*result.row)) {
            expected = result.row->versione;
            continue;
        }
        const MsgAnswer answer =
            boxes.show(EditConflictQuestion(nome, *result.row, expected.value_or(kUnseenVersion)),
                       kApplicationTitle, MsgButtons::YesNoCancel, MsgIcon::Question);
        if (answer == MsgAnswer::Yes) {
            // Over the version just shown: a save that came in meanwhile is asked about again.
            expected = result.row->versione;
            continue;
        }
        return {answer == MsgAnswer::No ? Kind::KeptOther : Kind::StillEditing,
                std::move(result.row)};
    }
}

}  // namespace kallomir
