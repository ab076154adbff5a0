#pragma once

#include <QDate>
#include <QHash>
#include <QObject>
#include <QString>
#include <QVariant>

#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

namespace kallomir {

class UserSettings;

// One row of table dati: the catalogue entry of one recording file.
struct CatalogueRow {
    QString nome;                             // file name without folder: the lookup key
    QString etichetta{};                      // label
    std::optional<QDate> dtfile;              // recording date, from the name
    QString ora;                              // "hh:mm", from the name
    std::optional<std::int32_t> progressivo;  // running number (recorder rows only)
    bool letto = false;                       // "Ascoltato"
    bool scritto = false;                     // "Trascritto"
    bool tradotto = false;                    // "Masterizzato"
    std::optional<QString> traduzione;        // transcription as RTF; empty when never saved
    QString user;
    std::int64_t versione = 1;  // goes up by one at every player save: the edit check
    QString numero{};           // the caller's number the line reported; empty when none
};

// How a search treats one of the three marks.
enum class MarkFilter { Any, Set, Clear };

// What the operator looks for; empty parts do not filter.
struct SearchQuery {
    QString words{};              // every word must occur, in any of its forms
    QString numero{};             // part (or the start) of the caller's number
    std::optional<QDate> from{};  // first recording date, inclusive
    std::optional<QDate> to{};    // last recording date, inclusive
    QString etichetta{};          // part of the label, any case
    MarkFilter letto = MarkFilter::Any;
    MarkFilter scritto = MarkFilter::Any;
    MarkFilter tradotto = MarkFilter::Any;
    int limit = 200;  // rows of the first page
};

// A snippet marks each word the query matched between these two characters.
inline constexpr char16_t kHitStart = 0x1;
inline constexpr char16_t kHitEnd = 0x2;

struct SearchHit {
    CatalogueRow row;
    QString snippet;  // the transcription's words around the matches (plain text)
};

// The newest recordings first.
struct SearchPage {
    std::vector<SearchHit> hits;
    bool more = false;  // more rows match than the page holds
};

// The plain text of a stored transcription (rich text in the row).
using PlainTextOf = std::function<QString(const QString& traduzione)>;

// Every column of one row by lower-case name, as the logbook reads them.
using CatalogueRecord = QHash<QString, QVariant>;

// What the player's save writes into an existing row.
struct PlayerMarks {
    bool letto = false;
    bool scritto = false;
    bool tradotto = false;
    QString traduzione;
};

// How a player save ended.
struct PlayerSaveResult {
    enum class Status {
        Saved,    // written; row holds the row as stored now
        NoRow,    // the name has no row: nothing written
        Changed,  // someone saved the row after the version given: nothing written; row
                  // holds the row as the other save left it
    };
    Status status = Status::NoRow;
    std::optional<CatalogueRow> row;
};

// What the operator must hear of a recorder insert that still kept its row.
struct RecorderInsertNotes {
    bool numberNotStored = false;   // the settings key "progressivo" could not be written
    bool numbersExhausted = false;  // no 32-bit running number is left: the row has none
    bool queued = false;  // the server could not be reached: the row waits in the local queue
};

// The fingerprint of a recording file kept beside its row (columns impronta, impronta_byte).
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

// How the catalogue can be reached now.
struct CatalogueStatus {
    bool server = false;    // the catalogue lives on a server
    bool reachable = true;  // the last attempt to reach it worked
    int queued = 0;         // recorder rows waiting in the local queue
    QString problem;        // why the server could not be reached
    QString location;       // the file, or the server and its database
};

// The recordings catalogue, table dati. Every user in the program goes through this
// interface: the embedded file (SqliteCatalogue) or a server shared by several
// workstations (ServerCatalogue). Names are compared without regard to case; values only
// ever travel as bound parameters. Failures are RuntimeErrors: 3024 missing file, 3343 not
// a catalogue, 3218 locked, 3151 server not reachable, 3146 any other database error.
class CatalogueStore : public QObject {
    Q_OBJECT
public:
    // The file, or the server and its database, for messages.
    virtual QString location() const = 0;

    // Creates the table (and adds the columns a newer program uses) when missing.
    virtual void create() = 0;

    virtual std::optional<CatalogueRow> find(const QString& nome) = 0;
    virtual int rowCount() = 0;

    // The recorder's entry for a saved recording: the next running number and the label
    // from "etichetta"; the number is kept in the settings key "progressivo". Returns the
    // number given, or nothing when the name already has a row (number not advanced), when
    // no number is left or when the row was queued (notes say which). numero: the caller's
    // number the line reported (kept also while the row waits in a queue); empty for none.
    virtual std::optional<std::int32_t> recorderInsert(const QString& nome, UserSettings& settings,
                                                       RecorderInsertNotes* notes = nullptr,
                                                       const QString& numero = QString()) = 0;

    // The player's entry for a recording that has none yet: LETTO false, no running number.
    // Returns false when a row already existed.
    virtual bool playerInsert(const QString& nome, const QString& etichetta,
                              const QString& user) = 0;

    // The player's save of marks, transcription, label and user into the first row of the
    // name. With openedVersion, the row is written only while it still has that version.
    virtual PlayerSaveResult playerSave(const QString& nome, const PlayerMarks& marks,
                                        const QString& etichetta, const QString& user,
                                        std::optional<std::int64_t> openedVersion = {}) = 0;

    // End of service: archives every row to archiveFile (an embedded catalogue file,
    // replaced), checks the archive, and only then deletes all rows of the live table.
    // Returns the number of rows archived. Nothing is deleted when the archive fails.
    virtual int archiveAndEmpty(const QString& archiveFile) = 0;

    // Every row with every column, in catalogue order.
    virtual std::vector<CatalogueRecord> allRows() = 0;

    // Stores the fingerprint in the first row of the name. Returns false, writing nothing,
    // when the name has no row (nor, on a server, a row waiting to be sent).
    virtual bool setFingerprint(const QString& nome, const CatalogueFingerprint& fingerprint) = 0;
    // The fingerprint of the first row of the name; nothing without a row or with it empty.
    virtual std::optional<CatalogueFingerprint> fingerprint(const QString& nome) = 0;
    // Every row with its fingerprint, transcription and marks, in catalogue order.
    virtual std::vector<FingerprintedRow> fingerprintedRows() = 0;

    virtual CatalogueStatus status() const = 0;

    // The transcriptions' word index. Rows whose transcription changed (or went) since they
    // were indexed wait in a backlog, however they were changed; the search indexes them
    // before it runs, the search window with a progress bar when there are many.
    virtual int searchBacklog() = 0;
    // Indexes up to maxRows of the backlog, returns how many still wait.
    virtual int indexBacklog(int maxRows, const PlainTextOf& plainTextOf) = 0;
    // The rows matching every part of the query, over what is indexed.
    virtual SearchPage search(const SearchQuery& query) = 0;

signals:
    // The reachability or the queue changed (see status()).
    void statusChanged();
};

// Date and time of a recording from its name "yyyymmdd_hhnnss..." (characters 1-8 and
// 10-13); nothing when the name does not hold a real date and time.
std::optional<QDate> DateFromRecordingName(const QString& nome);
std::optional<QString> TimeFromRecordingName(const QString& nome);

// The running number after both the stored text and the highest number in use; nothing when
// the 32-bit range is used up. Throws RuntimeError 13 when stored is not a whole number.
std::optional<std::int32_t> NextRunningNumber(const QString& stored, qint64 highestInUse);

}  // namespace kallomir
