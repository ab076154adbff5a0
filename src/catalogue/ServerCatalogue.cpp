#include "catalogue/ServerCatalogue.h"

#include "catalogue/CatalogueSchema.h"
#include "catalogue/SearchSnippet.h"
#include "catalogue/SearchWords.h"
#include "catalogue/SqliteCatalogue.h"
#include "catalogue/SqliteSearchIndex.h"
#include "core/RuntimeError.h"
#include "core/SettingsStore.h"

#include <QAtomicInteger>
#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QSet>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QTcpSocket>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <limits>
#include <type_traits>

namespace kallomir {

namespace {

constexpr int kLocked = 3218;
// Advisory lock classes: one name at a time for inserts, one workstation at a time for the
// table's set-up.
constexpr int kNameLock = 1701;
constexpr int kSchemaLock = 1702;

QAtomicInteger<quint64> connectionCounter;

QString Trimmed(QString text) {
    return text.replace(u'\n', u' ').replace(u'\t', u' ').simplified();
}

QString UnreachableText(const ServerCatalogueConfig& config, const QString& why) {
    return QStringLiteral("Impossibile raggiungere il catalogo sul server %1: %2")
        .arg(config.describe(), Trimmed(why));
}

// libpq's conninfo quoting.
QString ConnValue(QString value) {
    value.replace(u'\\', QStringLiteral("\\\\")).replace(u'\'', QStringLiteral("\\'"));
    return u'\'' + value + u'\'';
}

QString QuotedIdentifier(const QString& name) {
    return u'"' + QString(name).replace(u'"', QStringLiteral("\"\"")) + u'"';
}

}  // namespace

// ---- the connection ----------------------------------------------------------------------

class ServerCatalogue::Connection {
public:
    explicit Connection(const ServerCatalogueConfig& config)
        : config_(config),
          name_(QStringLiteral("kallomir-server-%1").arg(connectionCounter.fetchAndAddRelaxed(1))) {
    }
    ~Connection() {
        close();
        QSqlDatabase::removeDatabase(name_);
    }
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    bool isOpen() const { return db().isOpen(); }
    bool commitSent() const { return commitSent_; }

    // Opens the connection when it is not, prepares the session and the table.
    void ensureOpen() {
        commitSent_ = false;
        if (isOpen())
            return;
        QSqlDatabase database = QSqlDatabase::contains(name_)
                                    ? QSqlDatabase::database(name_, false)
                                    : QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), name_);
        if (!database.isValid())
            throw RuntimeError(
                kCatalogueUnreachable,
                UnreachableText(config_, QStringLiteral("il driver QPSQL di Qt non è "
                                                        "installato (libqt6sql6-psql)")));
        database.setHostName(config_.host);
        database.setPort(config_.port);
        database.setDatabaseName(config_.database);
        database.setUserName(config_.user);
        database.setPassword(password());
        QStringList options = {
            QStringLiteral("connect_timeout=%1").arg(config_.connectTimeoutSeconds),
            QStringLiteral("application_name=kallomir"),
            // A server that vanishes without a word is noticed within seconds, not minutes.
            QStringLiteral("keepalives_idle=10"), QStringLiteral("keepalives_interval=3"),
            QStringLiteral("keepalives_count=3"),
            QStringLiteral("tcp_user_timeout=%1").arg(config_.connectTimeoutSeconds * 3000)};
        if (!config_.sslMode.isEmpty())
            options << QStringLiteral("sslmode=") + config_.sslMode;
        if (!config_.sslRootCert.isEmpty())
            options << QStringLiteral("sslrootcert=") + ConnValue(config_.sslRootCert);
        database.setConnectOptions(options.join(u';'));
        if (!database.open()) {
            const QSqlError error = database.lastError();
            database.close();
            throw RuntimeError(
                kCatalogueUnreachable,
                UnreachableText(
                    config_, error.databaseText().isEmpty() ? error.text() : error.databaseText()));
        }
        try {
            // A lock held elsewhere is reported after a short wait instead of hanging.
            exec(QStringLiteral("SET lock_timeout = '3s'"));
            exec(QStringLiteral("SET statement_timeout = '120s'"));
            if (!config_.schema.isEmpty())
                prepareSchema();
            ensureTable();
        } catch (...) {
            close();
            throw;
        }
    }

    void close() {
        QSqlDatabase database = db();
        if (database.isOpen()) {
            if (inTransaction_)
                database.rollback();
            database.close();
        }
        inTransaction_ = false;
    }

    QSqlQuery prepare(const QString& sql) {
        QSqlQuery query(db());
        if (!query.prepare(sql))
            throw failure(query.lastError());
        return query;
    }
    void run(QSqlQuery& query) {
        if (!query.exec())
            throw failure(query.lastError());
    }
    // A statement without parameters, in one round trip.
    QSqlQuery exec(const QString& sql) {
        QSqlQuery query(db());
        query.setForwardOnly(true);
        if (!query.exec(sql))
            throw failure(query.lastError());
        return query;
    }
    QVariant value(const QString& sql) {
        QSqlQuery query = exec(sql);
        return query.next() ? query.value(0) : QVariant();
    }

    void begin() {
        exec(QStringLiteral("BEGIN"));
        inTransaction_ = true;
    }
    void commit() {
        commitSent_ = true;
        exec(QStringLiteral("COMMIT"));
        inTransaction_ = false;
    }
    void rollbackQuietly() {
        if (!inTransaction_)
            return;
        inTransaction_ = false;
        QSqlDatabase database = db();
        if (database.isOpen())
            QSqlQuery(database).exec(QStringLiteral("ROLLBACK"));
    }
    // The per-name lock that keeps two inserts of one name apart.
    void lockName(const QString& nome) {
        QSqlQuery lock = prepare(
            QStringLiteral("SELECT pg_advisory_xact_lock(%1, hashtext(lower(?)))").arg(kNameLock));
        lock.addBindValue(nome);
        run(lock);
    }

    RuntimeError failure(const QSqlError& error) {
        const QString state = error.nativeErrorCode();
        const QString text = error.databaseText().isEmpty() ? error.text() : error.databaseText();
        // A connection the server ended (stopped, restarted, cut): Qt has closed it.
        if (!db().isOpen() || state.startsWith(QStringLiteral("08")) ||
            state.startsWith(QStringLiteral("57P"))) {
            close();
            return RuntimeError(kCatalogueUnreachable, UnreachableText(config_, text));
        }
        if (state == u"55P03" || state == u"40P01" || state == u"40001")
            return RuntimeError(kLocked,
                                QStringLiteral("Could not update; currently locked by another "
                                               "session (%1).")
                                    .arg(config_.describe()));
        return RuntimeError(errors::kDatabase, Trimmed(text));
    }

private:
    QSqlDatabase db() const { return QSqlDatabase::database(name_, false); }

    QString password() const {
        if (config_.passwordFile.isEmpty())
            return QString();
        QFile file(config_.passwordFile);
        const QFileInfo info(file);
        if (!file.open(QIODevice::ReadOnly))
            throw RuntimeError(kCatalogueUnreachable,
                               UnreachableText(config_, QStringLiteral("il file della password "
                                                                       "%1 non si può leggere")
                                                            .arg(config_.passwordFile)));
        if (info.permissions() & (QFileDevice::ReadGroup | QFileDevice::ReadOther))
            throw RuntimeError(
                kCatalogueUnreachable,
                UnreachableText(config_, QStringLiteral("il file della password %1 è leggibile "
                                                        "da altri utenti: renderlo privato "
                                                        "(chmod 600)")
                                             .arg(config_.passwordFile)));
        return QString::fromUtf8(file.readLine()).remove(u'\n').remove(u'\r');
    }

    void prepareSchema() {
        QSqlQuery present = prepare(QStringLiteral("SELECT 1 FROM pg_namespace WHERE nspname = ?"));
        present.addBindValue(config_.schema);
        run(present);
        if (!present.next())
            exec(QStringLiteral("CREATE SCHEMA IF NOT EXISTS ") + QuotedIdentifier(config_.schema));
        exec(QStringLiteral("SET search_path TO ") + QuotedIdentifier(config_.schema));
    }

    QStringList columnsOf(const QString& table) {
        QSqlQuery query = prepare(QStringLiteral(
            "SELECT column_name FROM information_schema.columns WHERE table_schema = "
            "current_schema() AND table_name = ?"));
        query.addBindValue(table);
        run(query);
        QStringList names;
        while (query.next()) names << query.value(0).toString();
        return names;
    }

    // The table, the columns a newer program added, the counter and the indexes. Looked at
    // first and changed only when something is missing, so a login that may read and write
    // but not create works on a prepared server.
    void ensureTable() {
        auto complete = [this] {
            return MissingColumns(columnsOf(QStringLiteral("dati"))).empty() &&
                   !columnsOf(QStringLiteral("dati_contatore")).isEmpty() &&
                   !columnsOf(QStringLiteral("dati_parole_attesa")).isEmpty() &&
                   value(QStringLiteral("SELECT to_regclass('dati_ricerca') IS NOT NULL")).toBool();
        };
        if (complete())
            return;
        begin();
        exec(QStringLiteral("SELECT pg_advisory_xact_lock(%1, 0)").arg(kSchemaLock));
        const QStringList existing = columnsOf(QStringLiteral("dati"));
        if (existing.isEmpty()) {
            exec(CreateTableSql(true));
        } else {
            for (const CatalogueColumn& column : MissingColumns(existing))
                exec(AddColumnSql(column, true));
        }
        exec(QStringLiteral("CREATE INDEX IF NOT EXISTS dati_nome ON dati (lower(nome))"));
        exec(QStringLiteral("CREATE INDEX IF NOT EXISTS dati_progressivo ON dati (progressivo)"));
        // The search's order with every column it filters on: a page is found by walking this
        // index newest first, without sorting the table or reading its rows.
        exec(
            QStringLiteral("CREATE INDEX IF NOT EXISTS dati_ricerca ON dati (dtfile DESC NULLS "
                           "LAST, ora DESC, id DESC) INCLUDE (numero, etichetta, letto, "
                           "scritto, tradotto)"));
        exec(QStringLiteral(
            "CREATE TABLE IF NOT EXISTS dati_contatore (chiave boolean PRIMARY KEY DEFAULT true "
            "CHECK (chiave), ultimo integer NOT NULL DEFAULT 0)"));
        exec(QStringLiteral(
            "INSERT INTO dati_contatore (chiave, ultimo) VALUES (true, 0) ON CONFLICT DO NOTHING"));
        ensureSearchIndex();
        commit();
    }

    // The transcriptions' word index: dati_parole holds each row's plain text and its words
    // (text search configuration kallomir_it: Italian stems of the words with their accents
    // taken off by unaccent); triggers note in dati_parole_attesa every row inserted with a
    // text, changed or deleted, whoever writes it, and the program indexes what is noted.
    // A table that had no index notes all its rows with a text.
    void ensureSearchIndex() {
        QString unaccentSchema =
            value(QStringLiteral(
                      "SELECT n.nspname FROM pg_extension e JOIN pg_namespace n ON n.oid = "
                      "e.extnamespace WHERE e.extname = 'unaccent'"))
                .toString();
        if (unaccentSchema.isEmpty()) {
            exec(QStringLiteral("CREATE EXTENSION unaccent SCHEMA public"));
            unaccentSchema = QStringLiteral("public");
        }
        exec(QStringLiteral(
            "CREATE TABLE IF NOT EXISTS dati_parole_attesa (riga bigint PRIMARY KEY)"));
        if (!value(QStringLiteral("SELECT to_regclass('dati_parole') IS NOT NULL")).toBool()) {
            if (!value(QStringLiteral(
                           "SELECT count(*) > 0 FROM pg_ts_config c JOIN pg_namespace n ON n.oid = "
                           "c.cfgnamespace WHERE c.cfgname = 'kallomir_it' AND n.nspname = "
                           "current_schema()"))
                     .toBool()) {
                exec(QStringLiteral(
                    "CREATE TEXT SEARCH CONFIGURATION kallomir_it (COPY = italian)"));
                exec(QStringLiteral("ALTER TEXT SEARCH CONFIGURATION kallomir_it ALTER MAPPING FOR "
                                    "hword, hword_part, word WITH %1.unaccent, italian_stem")
                         .arg(QuotedIdentifier(unaccentSchema)));
            }
            exec(QStringLiteral(
                "CREATE TABLE dati_parole (riga bigint PRIMARY KEY, testo text NOT NULL, "
                "parole tsvector NOT NULL)"));
            exec(QStringLiteral("CREATE INDEX dati_parole_gin ON dati_parole USING gin (parole)"));
            exec(QStringLiteral(
                "INSERT INTO dati_parole_attesa (riga) SELECT id FROM dati WHERE traduzione IS "
                "NOT NULL ON CONFLICT DO NOTHING"));
        }
        exec(QStringLiteral(
            "CREATE OR REPLACE FUNCTION dati_parole_nota() RETURNS trigger LANGUAGE plpgsql "
            "SET search_path FROM CURRENT AS $f$ BEGIN "
            "IF TG_OP = 'DELETE' THEN "
            "INSERT INTO dati_parole_attesa (riga) VALUES (OLD.id) ON CONFLICT DO NOTHING; "
            "RETURN OLD; END IF; "
            "INSERT INTO dati_parole_attesa (riga) VALUES (NEW.id) ON CONFLICT DO NOTHING; "
            "RETURN NEW; END $f$"));
        exec(QStringLiteral(
            "CREATE OR REPLACE TRIGGER dati_parole_inserita AFTER INSERT ON dati FOR EACH ROW WHEN "
            "(NEW.traduzione IS NOT NULL) EXECUTE FUNCTION dati_parole_nota()"));
        exec(
            QStringLiteral("CREATE OR REPLACE TRIGGER dati_parole_cambiata AFTER UPDATE OF "
                           "traduzione ON dati FOR EACH ROW "
                           "EXECUTE FUNCTION dati_parole_nota()"));
        exec(QStringLiteral(
            "CREATE OR REPLACE TRIGGER dati_parole_tolta AFTER DELETE ON dati FOR EACH ROW "
            "EXECUTE FUNCTION dati_parole_nota()"));
    }

    const ServerCatalogueConfig& config_;
    QString name_;
    bool inTransaction_ = false;
    bool commitSent_ = false;
};

// ---- operations --------------------------------------------------------------------------

namespace {

const QString kSelectByName = QStringLiteral("SELECT id, ") + RowColumnsSql() +
                              QStringLiteral(
                                  " FROM dati WHERE lower(nome) = lower(?) "
                                  "ORDER BY id LIMIT 1");

}  // namespace

ServerCatalogue::ServerCatalogue(ServerCatalogueConfig config, QString folder, UserSettings* cache)
    : config_(std::move(config)),
      queue_(std::move(folder)),
      cache_(cache),
      connection_(std::make_unique<Connection>(config_)) {}

ServerCatalogue::~ServerCatalogue() = default;

QString ServerCatalogue::location() const {
    return config_.describe();
}

// Runs one operation on the server. A connection that was already open may have been
// dropped by the server while idle (a restart): the operation runs once more on a new one,
// unless its commit had been sent, whose outcome is unknown.
template <class Operation>
auto ServerCatalogue::withServer(Operation&& operation) {
    for (int attempt = 0;; ++attempt) {
        const bool reused = connection_->isOpen();
        try {
            connection_->ensureOpen();
            if constexpr (std::is_void_v<decltype(operation(*connection_))>) {
                operation(*connection_);
                markReachable();
                return;
            } else {
                auto result = operation(*connection_);
                markReachable();
                return result;
            }
        } catch (const RuntimeError& error) {
            connection_->rollbackQuietly();
            if (error.number() == kCatalogueUnreachable) {
                if (reused && attempt == 0 && !connection_->commitSent())
                    continue;
                markUnreachable(error.description());
            }
            throw;
        }
    }
}

void ServerCatalogue::markReachable() {
    if (reachable_ && problem_.isEmpty())
        return;
    reachable_ = true;
    problem_.clear();
    emit statusChanged();
    // What waited goes first, before the next recording joins the queue behind it.
    if (!sending_ && queuedCount() > 0)
        QTimer::singleShot(0, this, [this] { sendQueued(); });
}

void ServerCatalogue::markUnreachable(const QString& problem) {
    const bool changed = reachable_ || problem_ != problem;
    reachable_ = false;
    problem_ = problem;
    if (retry_ && !retry_->isActive())
        retry_->start();
    if (changed)
        emit statusChanged();
}

CatalogueStatus ServerCatalogue::status() const {
    CatalogueStatus s;
    s.server = true;
    s.reachable = reachable_;
    s.problem = problem_;
    s.location = location();
    try {
        s.queued = queuedCount();
    } catch (const RuntimeError& error) {
        s.problem = error.description();
    }
    return s;
}

int ServerCatalogue::queuedCount() const {
    if (queued_ < 0)
        queued_ = queue_.count();
    return queued_;
}

void ServerCatalogue::create() {
    try {
        withServer([](Connection&) {});
        // Rows left waiting by the last run go as soon as the window is up.
        if (queuedCount() > 0)
            QTimer::singleShot(0, this, [this] { sendQueued(); });
    } catch (const RuntimeError& error) {
        if (error.number() != kCatalogueUnreachable)
            throw;
    }
    if (queuedCount() > 0 && retry_ && !retry_->isActive())
        retry_->start();
}

std::optional<CatalogueRow> ServerCatalogue::find(const QString& nome) {
    return withServer([&](Connection& c) -> std::optional<CatalogueRow> {
        QSqlQuery query = c.prepare(kSelectByName);
        query.addBindValue(nome);
        c.run(query);
        if (!query.next())
            return std::nullopt;
        return RowFromQuery(query, 1);
    });
}

int ServerCatalogue::rowCount() {
    return withServer(
        [](Connection& c) { return c.value(QStringLiteral("SELECT count(*) FROM dati")).toInt(); });
}

std::optional<std::int32_t> ServerCatalogue::insertRecorderRow(Connection& c, const QString& nome,
                                                               const QString& etichetta,
                                                               const QString& numero,
                                                               UserSettings* cache,
                                                               RecorderInsertNotes* notes) {
    c.begin();
    c.lockName(nome);
    QSqlQuery existing = c.prepare(kSelectByName);
    existing.addBindValue(nome);
    c.run(existing);
    if (existing.next()) {
        c.rollbackQuietly();
        return std::nullopt;
    }
    existing.finish();
    // The counter row is the lock that puts the workstations' inserts one after another;
    // the highest number in the table guards against rows that came in another way.
    const qint64 last =
        c.value(QStringLiteral("SELECT ultimo FROM dati_contatore FOR UPDATE")).toLongLong();
    const QVariant highest = c.value(QStringLiteral("SELECT max(progressivo) FROM dati"));
    const std::optional<std::int32_t> number =
        NextRunningNumber(QStringLiteral("0"), std::max(last, highest.toLongLong()));
    if (number) {
        QSqlQuery counter = c.prepare(QStringLiteral("UPDATE dati_contatore SET ultimo = ?"));
        counter.addBindValue(*number);
        c.run(counter);
    }
    QSqlQuery insert = c.prepare(
        QStringLiteral("INSERT INTO dati (nome, etichetta, dtfile, ora, progressivo, numero) "
                       "VALUES (?, ?, ?, ?, ?, ?)"));
    insert.addBindValue(nome);
    insert.addBindValue(etichetta);
    insert.addBindValue(DateValueOf(nome, true));
    insert.addBindValue(TimeValueOf(nome));
    insert.addBindValue(number ? QVariant(*number) : QVariant(QMetaType(QMetaType::Int)));
    insert.addBindValue(NumberValueOf(numero));
    c.run(insert);
    c.commit();
    if (!number) {
        if (notes)
            notes->numbersExhausted = true;
        return std::nullopt;
    }
    if (cache && !cache->save(QStringLiteral("progressivo"), QString::number(*number)) && notes)
        notes->numberNotStored = true;
    return number;
}

void ServerCatalogue::queueRow(const QString& nome, const QString& etichetta, const QString& numero,
                               RecorderInsertNotes* notes) {
    queue_.add(nome, etichetta, QDateTime::currentDateTime(), numero);
    queued_ = queue_.count();
    if (notes)
        notes->queued = true;
    if (retry_ && !retry_->isActive())
        retry_->start();
    emit statusChanged();
}

std::optional<std::int32_t> ServerCatalogue::recorderInsert(const QString& nome,
                                                            UserSettings& settings,
                                                            RecorderInsertNotes* notes,
                                                            const QString& numero) {
    const QString etichetta = settings.get(QStringLiteral("etichetta"), QStringLiteral("Not Set"));
    // Behind rows that wait, or with the server known to be away, the row waits too: the
    // window is not held up by a server that does not answer, and the order is kept.
    if (!reachable_ || queuedCount() > 0) {
        queueRow(nome, etichetta, numero, notes);
        return std::nullopt;
    }
    try {
        return withServer([&](Connection& c) {
            return insertRecorderRow(c, nome, etichetta, numero, &settings, notes);
        });
    } catch (const RuntimeError& error) {
        if (error.number() != kCatalogueUnreachable)
            throw;
        queueRow(nome, etichetta, numero, notes);
        return std::nullopt;
    }
}

int ServerCatalogue::sendQueued() {
    std::vector<OfflineQueue::Entry> entries;
    try {
        entries = queue_.entries();
    } catch (const RuntimeError& error) {
        problem_ = error.description();
        emit statusChanged();
        return 0;
    }
    int sent = 0;
    sending_ = true;
    try {
        if (entries.empty() && !reachable_)
            withServer([](Connection&) {});  // only whether the server answers again
        for (const OfflineQueue::Entry& entry : entries) {
            RecorderInsertNotes notes;
            withServer([&](Connection& c) {
                insertRecorderRow(c, entry.nome, entry.etichetta, entry.numero, cache_, &notes);
                // Also when the row was there already: a row sent before a crash.
                if (entry.fingerprint)
                    writeFingerprint(c, entry.nome, *entry.fingerprint);
            });
            // A crash before this removal sends the row again; its name is then found on the
            // server and nothing is written twice.
            queue_.remove(entry.id);
            ++sent;
        }
    } catch (const RuntimeError& error) {
        // The rest waits, in order, for the next attempt.
        if (error.number() != kCatalogueUnreachable)
            problem_ = error.description();
    }
    sending_ = false;
    try {
        queued_ = queue_.count();
    } catch (const RuntimeError& error) {
        problem_ = error.description();
    }
    if (queued_ == 0 && reachable_ && retry_)
        retry_->stop();
    emit statusChanged();
    return sent;
}

void ServerCatalogue::startRetrying(int intervalMs) {
    if (!retry_) {
        retry_ = new QTimer(this);
        connect(retry_, &QTimer::timeout, this, [this] { retryTick(); });
        probeTimeout_ = new QTimer(this);
        probeTimeout_->setSingleShot(true);
        connect(probeTimeout_, &QTimer::timeout, this, [this] {
            if (probe_)
                probe_->abort();
        });
    }
    retry_->setInterval(intervalMs);
    if (!reachable_ || queuedCount() > 0)
        retry_->start();
}

void ServerCatalogue::retryTick() {
    if (reachable_ && queuedCount() == 0 && problem_.isEmpty()) {
        retry_->stop();
        return;
    }
    if (config_.host.startsWith(u'/')) {  // a local socket answers or fails at once
        sendQueued();
        return;
    }
    if (probe_)
        return;  // the last look has not ended yet
    // The window thread never waits for a server that does not answer: a connection attempt
    // to its port runs in the background, and the rows are sent once it is accepted.
    probe_ = new QTcpSocket(this);
    connect(probe_, &QTcpSocket::connected, this, [this] {
        probeTimeout_->stop();
        probe_->abort();
        probe_->deleteLater();
        probe_ = nullptr;
        sendQueued();
    });
    connect(probe_, &QTcpSocket::errorOccurred, this, [this] {
        probeTimeout_->stop();
        if (!probe_)
            return;
        probe_->deleteLater();
        probe_ = nullptr;
    });
    probeTimeout_->start(config_.connectTimeoutSeconds * 1000);
    probe_->connectToHost(config_.host, quint16(config_.port));
}

bool ServerCatalogue::playerInsert(const QString& nome, const QString& etichetta,
                                   const QString& user) {
    return withServer([&](Connection& c) {
        c.begin();
        c.lockName(nome);
        QSqlQuery existing = c.prepare(kSelectByName);
        existing.addBindValue(nome);
        c.run(existing);
        if (existing.next()) {
            c.rollbackQuietly();
            return false;
        }
        existing.finish();
        QSqlQuery insert = c.prepare(
            QStringLiteral("INSERT INTO dati (nome, letto, etichetta, \"user\", dtfile, ora) "
                           "VALUES (?, false, ?, ?, ?, ?)"));
        insert.addBindValue(nome);
        insert.addBindValue(etichetta);
        insert.addBindValue(user);
        insert.addBindValue(DateValueOf(nome, true));
        insert.addBindValue(TimeValueOf(nome));
        c.run(insert);
        c.commit();
        return true;
    });
}

PlayerSaveResult ServerCatalogue::playerSave(const QString& nome, const PlayerMarks& marks,
                                             const QString& etichetta, const QString& user,
                                             std::optional<std::int64_t> openedVersion) {
    return withServer([&](Connection& c) {
        PlayerSaveResult result;
        c.begin();
        QSqlQuery existing = c.prepare(kSelectByName + QStringLiteral(" FOR UPDATE"));
        existing.addBindValue(nome);
        c.run(existing);
        if (!existing.next()) {
            c.rollbackQuietly();
            return result;
        }
        const qint64 id = existing.value(0).toLongLong();
        CatalogueRow row = RowFromQuery(existing, 1);
        existing.finish();
        if (openedVersion && row.versione != *openedVersion) {
            c.rollbackQuietly();
            result.status = PlayerSaveResult::Status::Changed;
            result.row = std::move(row);
            return result;
        }
        QSqlQuery update = c.prepare(
            QStringLiteral("UPDATE dati SET letto = ?, scritto = ?, tradotto = ?, traduzione = ?, "
                           "etichetta = ?, \"user\" = ?, versione = ? WHERE id = ?"));
        update.addBindValue(marks.letto);
        update.addBindValue(marks.scritto);
        update.addBindValue(marks.tradotto);
        update.addBindValue(marks.traduzione);
        update.addBindValue(etichetta);
        update.addBindValue(user);
        update.addBindValue(qint64(row.versione + 1));
        update.addBindValue(id);
        c.run(update);
        c.commit();
        row.letto = marks.letto;
        row.scritto = marks.scritto;
        row.tradotto = marks.tradotto;
        row.traduzione = marks.traduzione;
        row.etichetta = etichetta;
        row.user = user;
        row.versione += 1;
        result.status = PlayerSaveResult::Status::Saved;
        result.row = std::move(row);
        return result;
    });
}

namespace {

std::vector<CatalogueRecord> ReadRecords(QSqlQuery& query) {
    const QSqlRecord record = query.record();
    QStringList names;
    for (int i = 0; i < record.count(); ++i) names << record.fieldName(i).toLower();
    std::vector<CatalogueRecord> rows;
    while (query.next()) {
        CatalogueRecord row;
        for (int i = 0; i < names.size(); ++i) row.insert(names[i], query.value(i));
        rows.push_back(std::move(row));
    }
    return rows;
}

}  // namespace

std::vector<CatalogueRecord> ServerCatalogue::allRows() {
    return withServer([](Connection& c) {
        QSqlQuery query = c.exec(QStringLiteral("SELECT * FROM dati ORDER BY id"));
        return ReadRecords(query);
    });
}

int ServerCatalogue::archiveAndEmpty(const QString& archiveFile) {
    // Recordings of the ending service that still wait belong in its archive.
    sendQueued();
    if (queuedCount() > 0)
        throw RuntimeError(
            kCatalogueUnreachable,
            QStringLiteral("%1 registrazioni non sono ancora arrivate al catalogo sul server %2: "
                           "il servizio non è stato chiuso. %3")
                .arg(queuedCount())
                .arg(config_.describe(), problem_));
    return withServer([&](Connection& c) {
        c.begin();
        // Counter first, then the table: the order every writer takes them in.
        c.exec(QStringLiteral("SELECT ultimo FROM dati_contatore FOR UPDATE"));
        c.exec(QStringLiteral("LOCK TABLE dati IN EXCLUSIVE MODE"));
        const QString stamp =
            QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd_HHmmss"));
        QString table = QStringLiteral("dati_archivio_") + stamp;
        for (int n = 2;
             c.value(QStringLiteral("SELECT to_regclass('%1') IS NOT NULL").arg(table)).toBool();
             ++n)
            table = QStringLiteral("dati_archivio_%1_%2").arg(stamp).arg(n);
        c.exec(QStringLiteral("CREATE TABLE %1 AS SELECT * FROM dati ORDER BY id").arg(table));
        // The archive must hold exactly the live rows, value for value.
        const QString digest = QStringLiteral(
            "SELECT count(*), md5(coalesce(string_agg(t::text, '|' ORDER BY t.id), "
            "'')) FROM %1 t");
        QSqlQuery live = c.exec(digest.arg(QStringLiteral("dati")));
        QSqlQuery copy = c.exec(digest.arg(table));
        if (!live.next() || !copy.next() || live.value(0) != copy.value(0) ||
            live.value(1) != copy.value(1))
            throw RuntimeError(errors::kDatabase,
                               QStringLiteral("L'archivio %1 non corrisponde al catalogo: il "
                                              "catalogo non è stato svuotato.")
                                   .arg(table));
        const int rows = live.value(0).toInt();

        // The file beside the recordings of the ending service, as with the embedded file.
        QSqlQuery all = c.exec(QStringLiteral("SELECT * FROM dati ORDER BY id"));
        const std::vector<CatalogueRecord> records = ReadRecords(all);
        const QString partial = archiveFile + QStringLiteral(".partial");
        QFile::remove(partial);
        if (!QFileInfo(QFileInfo(archiveFile).path()).isDir())
            throw RuntimeError(errors::kPathNotFound,
                               QStringLiteral("Path not found: '%1'").arg(archiveFile));
        try {
            SqliteCatalogue file(partial);
            file.appendRecords(records);
            if (file.rowCount() != rows)
                throw RuntimeError(errors::kDatabase,
                                   QStringLiteral("The archive copy '%1' does not hold every row.")
                                       .arg(archiveFile));
        } catch (const RuntimeError& error) {
            QFile::remove(partial);
            if (error.number() == errors::kDatabase)
                throw;
            throw RuntimeError(errors::kPathFileAccess,
                               QStringLiteral("Path/File access error: '%1' (%2)")
                                   .arg(archiveFile, error.description()));
        }
        if (std::rename(QFile::encodeName(partial).constData(),
                        QFile::encodeName(archiveFile).constData()) != 0) {
            QFile::remove(partial);
            throw RuntimeError(errors::kPermissionDenied,
                               QStringLiteral("Permission denied: '%1'").arg(archiveFile));
        }
        c.exec(QStringLiteral("DELETE FROM dati"));
        c.exec(QStringLiteral("DELETE FROM dati_parole"));
        c.exec(QStringLiteral("DELETE FROM dati_parole_attesa"));
        c.exec(QStringLiteral("UPDATE dati_contatore SET ultimo = 0"));
        c.commit();
        return rows;
    });
}

ServerCatalogue::CopyReport ServerCatalogue::copyRows(const std::vector<CatalogueRecord>& rows) {
    return withServer([&](Connection& c) {
        CopyReport report;
        c.begin();
        const qint64 last =
            c.value(QStringLiteral("SELECT ultimo FROM dati_contatore FOR UPDATE")).toLongLong();
        c.exec(QStringLiteral("LOCK TABLE dati IN EXCLUSIVE MODE"));
        QSet<QString> names;
        QHash<qint64, QString> numbers;
        QSqlQuery present = c.exec(QStringLiteral("SELECT lower(nome), progressivo FROM dati"));
        while (present.next()) {
            names.insert(present.value(0).toString());
            if (!present.value(1).isNull())
                numbers.insert(present.value(1).toLongLong(), present.value(0).toString());
        }
        present.finish();

        std::vector<const CatalogueRecord*> toCopy;
        QStringList clashes;
        qint64 highest = last;
        for (const CatalogueRecord& row : rows) {
            const QString nome = row.value(QStringLiteral("nome")).toString();
            if (names.contains(nome.toLower())) {
                report.alreadyThere << nome;
                continue;
            }
            names.insert(nome.toLower());
            const QVariant number = row.value(QStringLiteral("progressivo"));
            if (!number.isNull()) {
                const qint64 n = number.toLongLong();
                if (numbers.contains(n)) {
                    clashes
                        << QStringLiteral("%1 (%2; sul server: %3)").arg(n).arg(nome, numbers[n]);
                    continue;
                }
                numbers.insert(n, nome);
                highest = std::max(highest, n);
            }
            toCopy.push_back(&row);
        }
        if (!clashes.isEmpty())
            throw RuntimeError(errors::kDatabase,
                               QStringLiteral("Numeri progressivi già usati sul server da altre "
                                              "registrazioni: %1. Nessuna riga è stata copiata.")
                                   .arg(clashes.join(QStringLiteral(", "))));

        QStringList columns, marks;
        for (const CatalogueColumn& column : CatalogueColumns()) {
            columns << u'"' + column.name.toLower() + u'"';
            marks << QStringLiteral("?");
        }
        QSqlQuery insert = c.prepare(QStringLiteral("INSERT INTO dati (") + columns.join(u',') +
                                     QStringLiteral(") VALUES (") + marks.join(u',') + u')');
        for (const CatalogueRecord* row : toCopy) {
            for (const CatalogueColumn& column : CatalogueColumns()) {
                const QString key = column.name.toLower();
                QVariant value = row->value(key);
                if (key == u"dtfile" && !value.isNull()) {
                    const QDate date =
                        value.typeId() == QMetaType::QDate
                            ? value.toDate()
                            : QDate::fromString(value.toString().left(10), Qt::ISODate);
                    value = date.isValid() ? QVariant(date) : QVariant(QMetaType(QMetaType::QDate));
                } else if ((key == u"letto" || key == u"scritto" || key == u"tradotto")) {
                    value = value.isNull() ? QVariant(QMetaType(QMetaType::Bool))
                                           : QVariant(TruthOf(value));
                } else if (key == u"versione" && value.isNull()) {
                    value = 1;
                } else if (key == u"progressivo" && !value.isNull()) {
                    value = value.toInt();
                }
                insert.addBindValue(value);
            }
            c.run(insert);
            ++report.copied;
        }
        QSqlQuery counter = c.prepare(QStringLiteral("UPDATE dati_contatore SET ultimo = ?"));
        counter.addBindValue(std::min<qint64>(highest, std::numeric_limits<std::int32_t>::max()));
        c.run(counter);
        c.commit();
        return report;
    });
}

// ---- the word search ---------------------------------------------------------------------

int ServerCatalogue::searchBacklog() {
    return withServer([](Connection& c) {
        return c.value(QStringLiteral("SELECT count(*) FROM dati_parole_attesa")).toInt();
    });
}

int ServerCatalogue::indexBacklog(int maxRows, const PlainTextOf& plainTextOf) {
    return withServer([&](Connection& c) {
        c.begin();
        QSqlQuery waiting = c.prepare(QStringLiteral(
            "SELECT a.riga, d.traduzione FROM dati_parole_attesa a LEFT JOIN dati d ON d.id = "
            "a.riga ORDER BY a.riga LIMIT ? FOR UPDATE OF a SKIP LOCKED"));
        waiting.addBindValue(maxRows);
        c.run(waiting);
        std::vector<std::pair<qint64, QString>> rows;
        while (waiting.next())
            rows.emplace_back(waiting.value(0).toLongLong(), waiting.value(1).toString());
        waiting.finish();
        // A few statements per batch rather than three per row.
        QStringList ids;
        for (const auto& row : rows) ids << QString::number(row.first);
        const QString idArray = u'{' + ids.join(u',') + u'}';
        QSqlQuery remove = c.prepare(
            QStringLiteral("DELETE FROM dati_parole WHERE riga = ANY(CAST(? AS bigint[]))"));
        remove.addBindValue(idArray);
        c.run(remove);
        constexpr std::size_t kRowsPerInsert = 250;
        for (std::size_t from = 0; from < rows.size(); from += kRowsPerInsert) {
            QStringList placeholders;
            QVariantList values;
            for (std::size_t i = from; i < std::min(rows.size(), from + kRowsPerInsert); ++i) {
                const auto& [id, traduzione] = rows[i];
                // PostgreSQL text holds no NUL character.
                const QString text =
                    (traduzione.isEmpty() ? QString() : plainTextOf(traduzione)).remove(QChar(0));
                if (text.trimmed().isEmpty())
                    continue;
                placeholders << QStringLiteral("(CAST(? AS bigint), CAST(? AS text))");
                values << id << text;
            }
            if (placeholders.isEmpty())
                continue;
            QSqlQuery insert = c.prepare(
                QStringLiteral("INSERT INTO dati_parole (riga, testo, parole) SELECT r, t, "
                               "to_tsvector('kallomir_it', t) FROM (VALUES ") +
                placeholders.join(u',') + QStringLiteral(") AS v (r, t)"));
            for (const QVariant& value : values) insert.addBindValue(value);
            c.run(insert);
        }
        QSqlQuery done = c.prepare(
            QStringLiteral("DELETE FROM dati_parole_attesa WHERE riga = ANY(CAST(? AS bigint[]))"));
        done.addBindValue(idArray);
        c.run(done);
        const int left = c.value(QStringLiteral("SELECT count(*) FROM dati_parole_attesa")).toInt();
        c.commit();
        return left;
    });
}

SearchPage ServerCatalogue::search(const SearchQuery& query) {
    QStringList where;
    QVariantList values;
    // The operator's words, joined by AND; words the configuration drops (e.g. "di") are
    // left out by plainto_tsquery.
    const QString words = SearchWordsText(query.words);
    if (!words.isEmpty()) {
        where << QStringLiteral("p.parole @@ plainto_tsquery('kallomir_it', ?)");
        values << words;
    }
    if (const QString numero = query.numero.trimmed(); !numero.isEmpty()) {
        // Numbers have no case; ILIKE would fold every row's number to compare digits.
        const bool letters =
            std::any_of(numero.begin(), numero.end(), [](QChar c) { return c.isLetter(); });
        where << (letters ? QStringLiteral("d.numero ILIKE ? ESCAPE '\\'")
                          : QStringLiteral("d.numero LIKE ? ESCAPE '\\'"));
        values << ContainsPattern(numero);
    }
    if (query.from) {
        where << QStringLiteral("d.dtfile >= ?");
        values << *query.from;
    }
    if (query.to) {
        where << QStringLiteral("d.dtfile <= ?");
        values << *query.to;
    }
    if (!query.etichetta.trimmed().isEmpty()) {
        where << QStringLiteral("d.etichetta ILIKE ? ESCAPE '\\'");
        values << ContainsPattern(query.etichetta.trimmed());
    }
    auto mark = [&](const char* column, MarkFilter filter) {
        if (filter == MarkFilter::Set)
            where << QStringLiteral("coalesce(d.%1, false)").arg(QLatin1String(column));
        else if (filter == MarkFilter::Clear)
            where << QStringLiteral("NOT coalesce(d.%1, false)").arg(QLatin1String(column));
    };
    mark("letto", query.letto);
    mark("scritto", query.scritto);
    mark("tradotto", query.tradotto);
    const QString filter = where.isEmpty()
                               ? QString()
                               : QStringLiteral(" WHERE ") + where.join(QStringLiteral(" AND "));
    QString columns = RowColumnsSql();
    // The page is chosen first; the highlighted extracts are made here for its rows only, as
    // for the embedded file, around the words the server's configuration kept.
    const QString sql =
        QStringLiteral(
            "WITH pagina AS (SELECT d.id FROM dati d LEFT JOIN dati_parole p ON p.riga = "
            "d.id") +
        filter +
        QStringLiteral(
            " ORDER BY d.dtfile DESC NULLS LAST, d.ora DESC, d.id DESC LIMIT ?) SELECT ") +
        columns.replace(QStringLiteral("\"user\""), QStringLiteral("d.\"user\"")) +
        QStringLiteral(
            ", p.testo FROM pagina JOIN dati d ON d.id = pagina.id LEFT JOIN dati_parole p ON "
            "p.riga = d.id ORDER BY d.dtfile DESC NULLS LAST, d.ora DESC, d.id DESC");
    return withServer([&](Connection& c) {
        QStringList stems;
        if (!words.isEmpty()) {
            QSqlQuery lexemes =
                c.prepare(QStringLiteral("SELECT array_to_string(tsvector_to_array(to_tsvector("
                                         "'kallomir_it', ?)), ' ')"));
            lexemes.addBindValue(words);
            c.run(lexemes);
            if (lexemes.next())
                stems = lexemes.value(0).toString().split(u' ', Qt::SkipEmptyParts);
        }
        QSqlQuery statement = c.prepare(sql);
        for (const QVariant& value : values) statement.addBindValue(value);
        statement.addBindValue(query.limit + 1);
        c.run(statement);
        SearchPage result;
        while (statement.next()) {
            if (int(result.hits.size()) == query.limit) {
                result.more = true;
                break;
            }
            result.hits.push_back(
                SearchHit{RowFromQuery(statement, 0),
                          SearchSnippet(statement.value(RowColumnCount()).toString(), stems)});
        }
        return result;
    });
}

bool ServerCatalogue::writeFingerprint(Connection& c, const QString& nome,
                                       const CatalogueFingerprint& fingerprint) {
    QSqlQuery update = c.prepare(
        QStringLiteral("UPDATE dati SET impronta = ?, impronta_byte = ? WHERE id = "
                       "(SELECT id FROM dati WHERE lower(nome) = lower(?) ORDER BY id LIMIT 1)"));
    update.addBindValue(fingerprint.sha256);
    update.addBindValue(fingerprint.bytes);
    update.addBindValue(nome);
    c.run(update);
    return update.numRowsAffected() > 0;
}

bool ServerCatalogue::setFingerprint(const QString& nome, const CatalogueFingerprint& fingerprint) {
    // A row still waiting takes its fingerprint along when it is sent.
    if ((!reachable_ || queuedCount() > 0) && queue_.setFingerprint(nome, fingerprint))
        return true;
    return withServer([&](Connection& c) { return writeFingerprint(c, nome, fingerprint); });
}

std::optional<CatalogueFingerprint> ServerCatalogue::fingerprint(const QString& nome) {
    return withServer([&](Connection& c) -> std::optional<CatalogueFingerprint> {
        QSqlQuery query = c.prepare(
            QStringLiteral("SELECT impronta, impronta_byte FROM dati WHERE lower(nome) = lower(?) "
                           "ORDER BY id LIMIT 1"));
        query.addBindValue(nome);
        c.run(query);
        if (!query.next())
            return std::nullopt;
        return FingerprintFromValues(query.value(0), query.value(1));
    });
}

std::vector<FingerprintedRow> ServerCatalogue::fingerprintedRows() {
    return withServer([&](Connection& c) {
        QSqlQuery query = c.exec(QStringLiteral("SELECT ") + FingerprintedColumnsSql() +
                                 QStringLiteral(" FROM dati ORDER BY id"));
        std::vector<FingerprintedRow> rows;
        while (query.next()) rows.push_back(FingerprintedRowFromQuery(query));
        return rows;
    });
}

}  // namespace kallomir
