#pragma once

#include <QString>

namespace kallomir::texts {

// The recorder's own words, in one place so the window and the cycle say the same.
inline const QString kWaiting = QStringLiteral("In Attesa");
inline const QString kWaitingToRecord = QStringLiteral("In attesa di registrare ...");
inline const QString kSaveTitle = QStringLiteral("errore di registrazione");
inline const QString kRecoveryTitle = QStringLiteral("Recupero registrazione");

inline const QString kCallNotAnswered = QStringLiteral("Chiamata in arrivo non risposta: ");
inline const QString kCallNotRecorded = QStringLiteral("Chiamata in corso NON registrata: ");
inline const QString kMarkerNotWritten = QStringLiteral(
    "Attenzione: se il programma si interrompe, questa registrazione non potrà essere "
    "recuperata. ");
inline const QString kNotSavedYet = QStringLiteral(
    "Registrazione non ancora salvata: l'audio resta in %1 e sarà salvato appena possibile.");
inline const QString kNotCataloguedYet = QStringLiteral(
    "La registrazione %1 è salvata ma non ancora nel catalogo: sarà inserita appena possibile.");
inline const QString kNotLoggedYet = QStringLiteral(
    "La registrazione %1 è salvata ma non ancora nel registro di integrità: sarà annotata "
    "appena possibile.");
inline const QString kNoAudio = QStringLiteral(
    "La registrazione %1 non contiene audio: è stata conservata ma non inserita nel catalogo.");
inline const QString kRecovered =
    QStringLiteral("Una registrazione interrotta è stata recuperata: ");
inline const QString kNumberNotStored = QStringLiteral(
    "Il numero progressivo %1 non è stato salvato nelle impostazioni; il catalogo lo ricorda "
    "e non verrà ripetuto.");
inline const QString kNumbersExhausted = QStringLiteral(
    "Numeri progressivi esauriti: la registrazione %1 è nel catalogo senza numero. Eseguire "
    "\"Fine Servizio\" per ricominciare da 1.");
inline const QString kCatalogueOffline = QStringLiteral(
    "Catalogo sul server %1 non raggiungibile: le prossime registrazioni saranno catalogate "
    "appena il server risponde.");
inline const QString kCatalogueOfflineWaiting = QStringLiteral(
    "Catalogo sul server %1 non raggiungibile. Registrazioni in attesa di catalogazione su "
    "questa postazione: %2 (inviate appena il server risponde).");
inline const QString kCatalogueSending =
    QStringLiteral("Registrazioni in attesa di essere inviate al catalogo sul server %1: %2.");
inline const QString kCatalogueOfflineBox = QStringLiteral(
    "Il catalogo sul server %1 non è raggiungibile. Le registrazioni sono salvate su questo "
    "computer e le loro righe saranno inviate al catalogo appena il server risponde.\n\n%2");
inline const QString kFolderNotAdvanced = QStringLiteral(
    "La cartella di registrazione è piena ma il numero della cartella successiva non può "
    "essere salvato: si continua a registrare in %1.");

}  // namespace kallomir::texts
