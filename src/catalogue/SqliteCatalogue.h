#pragma once

#include "catalogue/CatalogueStore.h"

namespace kallomir {

// The catalogue as an embedded SQLite file, datirec.mdb in the program's folder: the
// default. Every operation opens its own connection and closes it before returning, so
// another window or program sees a consistent file between operations.
class SqliteCatalogue : public CatalogueStore {
    Q_OBJECT
public:
    explicit SqliteCatalogue(QString databaseFile);

    // The catalogue of a program folder. The file is looked up at every operation: an
    // existing file whose name differs only in case counts as the catalogue.
    static std::unique_ptr<SqliteCatalogue> InFolder(const QString& programFolder);
    static QString FileName() { return QStringLiteral("datirec.mdb"); }
    // The catalogue file of a folder as InFolder finds it now.
    static QString FileInFolder(const QString& programFolder);

    QString file() const;

    QString location() const override { return file(); }
    void create() override;
    std::optional<CatalogueRow> find(const QString& nome) override;
    int rowCount() override;
    // The running number is the next after both the settings key "progressivo" and every
    // number the table holds, so a number the settings failed to keep is never given twice.
    // A "progressivo" that is not a whole number fails with error 13 before anything is
    // written.
    std::optional<std::int32_t> recorderInsert(const QString& nome, UserSettings& settings,
                                               RecorderInsertNotes* notes = nullptr,
                                               const QString& numero = QString()) override;
    bool playerInsert(const QString& nome, const QString& etichetta, const QString& user) override;
    PlayerSaveResult playerSave(const QString& nome, const PlayerMarks& marks,
                                const QString& etichetta, const QString& user,
                                std::optional<std::int64_t> openedVersion = {}) override;
    // Copies the file to archiveFile, checks that the copy opens and holds every row, and
    // only then deletes the live rows.
    int archiveAndEmpty(const QString& archiveFile) override;
    std::vector<CatalogueRecord> allRows() override;
    CatalogueStatus status() const override;
    int searchBacklog() override;
    int indexBacklog(int maxRows, const PlainTextOf& plainTextOf) override;
    SearchPage search(const SearchQuery& query) override;
    bool setFingerprint(const QString& nome, const CatalogueFingerprint& fingerprint) override;
    std::optional<CatalogueFingerprint> fingerprint(const QString& nome) override;
    std::vector<FingerprintedRow> fingerprintedRows() override;

    // Appends rows exactly as given (numbers, marks, text and version kept), in one
    // transaction: for archives and copies.
    void appendRecords(const std::vector<CatalogueRecord>& records);

private:
    SqliteCatalogue() = default;
    QString file_;
    QString folder_;  // set when the file is looked up in a folder
};

}  // namespace kallomir
