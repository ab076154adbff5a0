#pragma once

#include "catalogue/CatalogueStore.h"
#include "catalogue/OfflineQueue.h"
#include "catalogue/ServerCatalogueConfig.h"

#include <QStringList>

#include <memory>

class QTcpSocket;
class QTimer;

namespace kallomir {

class UserSettings;

// The error number of a catalogue server that cannot be reached (or refuses the login).
inline constexpr int kCatalogueUnreachable = 3151;

// The catalogue on a PostgreSQL server shared by several workstations: the same table dati,
// plus a serial key "id" (the order rows were added in) and the one-row table
// dati_contatore holding the last running number, which every recorder insert locks, so two
// workstations never get the same number and numbers follow each other without gaps.
//
// A recorder row that cannot reach the server waits in the workstation's own datirec.mdb
// (OfflineQueue) and is sent later, oldest first; a name the server already holds is not
// written again, so a row sent twice (a reply lost with the connection) still arrives once.
// While anything waits, new recorder rows join the end of the queue, keeping the order.
//
// One connection, opened on first use and kept; a connection the server dropped while idle
// is opened again once. Use from one thread.
class ServerCatalogue : public CatalogueStore {
    Q_OBJECT
public:
    // folder: the program folder, whose datirec.mdb keeps the queue. cache: the settings
    // whose "progressivo" keeps the last number this workstation was given (may be null).
    ServerCatalogue(ServerCatalogueConfig config, QString folder, UserSettings* cache = nullptr);
    ~ServerCatalogue() override;

    const ServerCatalogueConfig& config() const { return config_; }

    QString location() const override;
    // Prepares the table on the server. A server that cannot be reached is not an error here:
    // status() says so and recorder rows are queued.
    void create() override;
    std::optional<CatalogueRow> find(const QString& nome) override;
    int rowCount() override;
    // The number comes from the server (the settings' "progressivo" is only written, as the
    // last number this workstation got). A server out of reach queues the row: notes->queued.
    std::optional<std::int32_t> recorderInsert(const QString& nome, UserSettings& settings,
                                               RecorderInsertNotes* notes = nullptr,
                                               const QString& numero = QString()) override;
    bool playerInsert(const QString& nome, const QString& etichetta, const QString& user) override;
    PlayerSaveResult playerSave(const QString& nome, const PlayerMarks& marks,
                                const QString& etichetta, const QString& user,
                                std::optional<std::int64_t> openedVersion = {}) override;
    // Sends what waits in the queue first. Then, in one transaction that holds the table:
    // copies the rows into a dated table dati_archivio_yyyymmdd_hhnnss on the server and
    // into archiveFile, checks both against the live rows, deletes the live rows and
    // restarts the running numbers. Any failure leaves everything as it was.
    int archiveAndEmpty(const QString& archiveFile) override;
    std::vector<CatalogueRecord> allRows() override;
    CatalogueStatus status() const override;
    int searchBacklog() override;
    int indexBacklog(int maxRows, const PlainTextOf& plainTextOf) override;
    SearchPage search(const SearchQuery& query) override;
    // A row that waits in the queue keeps the fingerprint there and takes it to the server.
    bool setFingerprint(const QString& nome, const CatalogueFingerprint& fingerprint) override;
    std::optional<CatalogueFingerprint> fingerprint(const QString& nome) override;
    std::vector<FingerprintedRow> fingerprintedRows() override;

    // Sends the queued rows, oldest first, stopping at the first the server does not take.
    // Returns how many were sent.
    int sendQueued();
    int queuedCount() const;

    // While the server is away or rows wait: every intervalMs a look at whether the server
    // answers on its port (without holding up the window), then sendQueued().
    void startRetrying(int intervalMs = 10000);

    struct CopyReport {
        int copied = 0;
        QStringList alreadyThere;  // names the server held already: not copied again
    };
    // Copies rows of an embedded catalogue (SqliteCatalogue::allRows) keeping their running
    // numbers, marks, text and versions, in one transaction. Names already on the server are
    // left out; a number already used on the server by another recording stops the whole
    // copy (RuntimeError, nothing copied). The running numbers go on after the highest copied.
    CopyReport copyRows(const std::vector<CatalogueRecord>& rows);

private:
    class Connection;
    template <class Operation>
    auto withServer(Operation&& operation);
    std::optional<std::int32_t> insertRecorderRow(Connection& c, const QString& nome,
                                                  const QString& etichetta, const QString& numero,
                                                  UserSettings* cache, RecorderInsertNotes* notes);
    static bool writeFingerprint(Connection& c, const QString& nome,
                                 const CatalogueFingerprint& fingerprint);
    void queueRow(const QString& nome, const QString& etichetta, const QString& numero,
                  RecorderInsertNotes* notes);
    void markReachable();
    void markUnreachable(const QString& problem);
    void retryTick();

    ServerCatalogueConfig config_;
    OfflineQueue queue_;
    UserSettings* cache_;
    std::unique_ptr<Connection> connection_;
    bool reachable_ = true;
    bool sending_ = false;
    QString problem_;
    mutable int queued_ = -1;  // -1: not read from the file yet
    QTimer* retry_ = nullptr;
    QTcpSocket* probe_ = nullptr;
    QTimer* probeTimeout_ = nullptr;
};

}  // namespace kallomir
