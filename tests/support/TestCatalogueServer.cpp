#include "support/TestCatalogueServer.h"

#include <QAtomicInteger>
#include <QCoreApplication>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QSqlError>
#include <QSqlQuery>
#include <QTcpServer>

namespace kallomir::test {

namespace {

QString Env(const char* name) {
    return qEnvironmentVariable(name);
}

bool RunScript(const QString& command) {
    QProcess process;
    process.setProcessChannelMode(QProcess::ForwardedChannels);
    process.start(Env("KALLOMIR_TEST_PG_SCRIPT"), {command, Env("KALLOMIR_TEST_PG_SERVER")});
    return process.waitForFinished(60000) && process.exitStatus() == QProcess::NormalExit &&
           process.exitCode() == 0;
}

QAtomicInteger<int> schemaCounter;

}  // namespace

bool TestCatalogueServer::available() {
    return !Env("KALLOMIR_TEST_PG_PORT").isEmpty() && QSqlDatabase::isDriverAvailable("QPSQL");
}

QString TestCatalogueServer::skipReason() {
    return QStringLiteral(
        "no PostgreSQL test server: run the tests through scripts/with-test-services.sh "
        "(needs Debian's postgresql and libqt6sql6-psql)");
}

ServerCatalogueConfig TestCatalogueServer::baseConfig() {
    ServerCatalogueConfig config;
    config.host = Env("KALLOMIR_TEST_PG_HOST");
    config.port = Env("KALLOMIR_TEST_PG_PORT").toInt();
    config.database = Env("KALLOMIR_TEST_PG_DATABASE");
    config.user = Env("KALLOMIR_TEST_PG_USER");
    config.passwordFile = Env("KALLOMIR_TEST_PG_PASSWORD_FILE");
    config.sslMode = QStringLiteral("disable");
    config.connectTimeoutSeconds = 3;
    return config;
}

bool TestCatalogueServer::stop() {
    return RunScript(QStringLiteral("stop"));
}

bool TestCatalogueServer::start() {
    return RunScript(QStringLiteral("start"));
}

ServerCatalogueConfig TestCatalogueServer::unreachableConfig() {
    // A port that was free a moment ago: bound, read, released.
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost);
    const int port = probe.serverPort();
    probe.close();
    ServerCatalogueConfig config;
    config.host = QStringLiteral("127.0.0.1");
    config.port = port;
    config.database = QStringLiteral("kallomir");
    config.user = QStringLiteral("kallo");
    config.sslMode = QStringLiteral("disable");
    config.connectTimeoutSeconds = 2;
    return config;
}

TestServerSchema::TestServerSchema()
    : name_(QStringLiteral("t%1_%2_%3")
                .arg(QCoreApplication::applicationPid())
                .arg(schemaCounter.fetchAndAddRelaxed(1))
                .arg(QRandomGenerator::global()->bounded(1000000))),
      connection_(QStringLiteral("test-schema-") + name_) {
    exec(QStringLiteral("CREATE SCHEMA %1").arg(name_));
}

TestServerSchema::~TestServerSchema() {
    exec(QStringLiteral("DROP SCHEMA %1 CASCADE").arg(name_));
    {
        QSqlDatabase database = QSqlDatabase::database(connection_, false);
        database.close();
    }
    QSqlDatabase::removeDatabase(connection_);
}

ServerCatalogueConfig TestServerSchema::config() const {
    ServerCatalogueConfig config = TestCatalogueServer::baseConfig();
    config.schema = name_;
    return config;
}

QSqlDatabase TestServerSchema::db() {
    QSqlDatabase database = QSqlDatabase::contains(connection_)
                                ? QSqlDatabase::database(connection_, false)
                                : QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), connection_);
    if (database.isOpen())
        return database;
    const ServerCatalogueConfig c = TestCatalogueServer::baseConfig();
    database.setHostName(c.host);
    database.setPort(c.port);
    database.setDatabaseName(c.database);
    database.setUserName(c.user);
    QFile password(c.passwordFile);
    if (password.open(QIODevice::ReadOnly))
        database.setPassword(QString::fromUtf8(password.readLine()).trimmed());
    database.setConnectOptions(QStringLiteral("sslmode=disable;connect_timeout=3"));
    if (database.open())
        QSqlQuery(database).exec(
            QStringLiteral("SET search_path TO %1; SET client_min_messages = warning").arg(name_));
    return database;
}

// After a restart of the server the connection fails once; it is opened again and the
// statement run on the new one.
bool TestServerSchema::exec(const QString& sql) {
    for (int attempt = 0; attempt < 2; ++attempt) {
        QSqlQuery query(db());
        if (query.exec(sql))
            return true;
        const bool stillOpen = QSqlDatabase::database(connection_, false).isOpen();
        if (stillOpen || attempt == 1)
            qWarning("test schema: %s: %s", qPrintable(sql), qPrintable(query.lastError().text()));
        if (stillOpen)
            return false;
    }
    return false;
}

QVariant TestServerSchema::value(const QString& sql) {
    for (int attempt = 0; attempt < 2; ++attempt) {
        QSqlQuery query(db());
        if (query.exec(sql))
            return query.next() ? query.value(0) : QVariant();
        if (QSqlDatabase::database(connection_, false).isOpen())
            return QVariant();
    }
    return QVariant();
}

}  // namespace kallomir::test
