#pragma once

#include <QDate>
#include <QString>

#include <cstdint>
#include <optional>
#include <vector>

namespace kallomir {

class UserSettings;

// One row of table dati: the catalogue entry of one recording file.
struct CatalogueRow {
    QString nome;                             // file name without folder: the lookup key
    QString etichetta;                        // label
    std::optional<QDate> dtfile;              // recording date, from the name
    QString ora;                              // "hh:mm", from the name
    std::optional<std::int32_t> progressivo;  // running number (recorder rows only)
    bool letto = false;                       // "Ascoltato"
    bool scritto = false;                     // "Trascritto"
    bool tradotto = false;                    // "Masterizzato"
    std::optional<QString> traduzione;        // transcription as RTF; empty when never saved
    QString user;
};

// What the player's save writes into an existing row.
struct PlayerMarks {
    bool letto = false;
    bool scritto = false;
    bool tradotto = false;
    QString traduzione;
};

// What the operator must hear of a recorder insert that still stored its row.
struct RecorderInsertNotes {
    bool numberNotStored = false;   // the settings key "progressivo" could not be written
    bool numbersExhausted = false;  // no 32-bit running number is left: the row has none
};

// The fingerprint of a recording file kept beside its row.
struct CatalogueFingerprint {
    QString sha256;  // 64 lower-case hexadecimal digits, as sha256sum prints them
    qint64 bytes = 0;
    bool operator==(const CatalogueFingerprint&) const = default;
};

// A row as the integrity check reads it.
struct FingerprintedRow {
    QString nome;
    std::optional<CatalogueFingerprint> fingerprint;
    std::optional<QString> traduzione;
    bool letto = false;
    bool scritto = false;
    bool tradotto = false;
};

// The recordings catalogue, datirec.mdb (an SQLite file) in the program's folder.
// Every operation opens its own connection and closes it before returning, so another
// window or program sees a consistent file between operations. Names are compared without
// regard to case; values only ever travel as bound parameters. Failures are RuntimeErrors:
// 3024 missing file, 3343 not a catalogue, 3218 locked, 3146 any other database error.
class Catalogue {
public:
    explicit Catalogue(QString databaseFile);

    // The catalogue of a program folder (an existing file whose name differs only in case
    // counts as the catalogue).
    static Catalogue InFolder(const QString& programFolder);
    static QString FileName() { return QStringLiteral("datirec.mdb"); }

    const QString& file() const { return file_; }

    // Creates the file and the table when missing (first start of the program).
    void create() const;

    std::optional<CatalogueRow> find(const QString& nome) const;
    int rowCount() const;

    // The recorder's entry for a saved recording: the next running number after the settings
    // key "progressivo" (and after every number the table already holds, so a number the
    // settings failed to keep is never given twice), the label from "etichetta". Returns the
    // number given, or nothing when the name already has a row (number not advanced) or no
    // number is left (the row is stored without one). A "progressivo" that is not a whole
    // number fails with error 13 before anything is written.
    std::optional<std::int32_t> recorderInsert(const QString& nome, UserSettings& settings,
                                               RecorderInsertNotes* notes = nullptr) const;

    // The player's entry for a recording that has none yet: LETTO false, no running number.
    // Returns false when a row already existed.
    bool playerInsert(const QString& nome, const QString& etichetta, const QString& user) const;

    // The player's save of marks, transcription, label and user into the first row of the
    // name. Returns false (nothing written) when the name has no row.
    bool playerSave(const QString& nome, const PlayerMarks& marks, const QString& etichetta,
                    const QString& user) const;

    // End of service: copies the catalogue to archiveFile (replacing it), checks that the
    // copy opens and holds every row, and only then deletes all rows of the live table.
    // Returns the number of rows archived. The live catalogue is untouched when the copy
    // or its check fails.
    int archiveAndEmpty(const QString& archiveFile) const;

    // The fingerprint columns: "impronta" (SHA-256 of the recording file) and
    // "impronta_byte" (its size). Added to a table that lacks them without touching its
    // rows, which keep them empty; nothing happens when they are there.
    void ensureFingerprintColumns() const;
    // Stores the fingerprint in the first row of the name (adding the columns when
    // missing). Returns false, writing nothing, when the name has no row.
    bool setFingerprint(const QString& nome, const CatalogueFingerprint& fingerprint) const;
    // The fingerprint of the first row of the name; nothing without a row, without the
    // columns or with them empty. Never adds the columns.
    std::optional<CatalogueFingerprint> fingerprint(const QString& nome) const;
    // Every row with its fingerprint, transcription and marks, in catalogue order. Never
    // adds the columns: a table without them gives rows without fingerprints.
    std::vector<FingerprintedRow> fingerprintedRows() const;

private:
    QString file_;
};

// Date and time of a recording from its name "yyyymmdd_hhnnss..." (characters 1-8 and
// 10-13); nothing when the name does not hold a real date and time.
std::optional<QDate> DateFromRecordingName(const QString& nome);
std::optional<QString> TimeFromRecordingName(const QString& nome);

}  // namespace kallomir
