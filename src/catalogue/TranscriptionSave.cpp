#include "catalogue/TranscriptionSave.h"

#include "core/MessageBoxService.h"

namespace kallomir {

QString EditConflictQuestion(const QString& nome, const CatalogueRow& theirs) {
    const QString who =
        theirs.user.trimmed().isEmpty()
            ? QStringLiteral("da un altro operatore")
            : QStringLiteral("da un altro operatore (utente «%1»)").arg(theirs.user);
    return QStringLiteral(
               "La registrazione %1 è stata salvata %2 dopo che è stata aperta qui.\n\n"
               "Sì: salvare questo testo al posto del suo.\n"
               "No: tenere il testo dell'altro operatore e scartare queste modifiche.\n"
               "Annulla: continuare a modificare senza salvare.")
        .arg(nome, who);
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
        const MsgAnswer answer =
            boxes.show(EditConflictQuestion(nome, *result.row), kApplicationTitle,
                       MsgButtons::YesNoCancel, MsgIcon::Question);
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
