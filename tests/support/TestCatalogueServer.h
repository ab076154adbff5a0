#pragma once

#include "catalogue/ServerCatalogueConfig.h"

#include <QSqlDatabase>
#include <QString>
#include <QVariant>

namespace kallomir::test {

// The private PostgreSQL server scripts/with-test-services.sh starts for the test run
// (KALLOMIR_TEST_PG_*). Tests that need it skip where it is not running.
class TestCatalogueServer {
public:
    static bool available();
    static QString skipReason();
    // The server's own settings, without a schema.
    static ServerCatalogueConfig baseConfig();
    // Stops the server (fast shutdown, every connection ends) and starts it again.
    static bool stop();
    static bool start();
    // A configuration that reaches nothing: a port on 127.0.0.1 where nobody listens.
    static ServerCatalogueConfig unreachableConfig();
};

// A schema of its own on the test server for one test, so tests never see each other's
// rows; dropped at the end. Its connection (the test's "other workstation" or the
// administrator) works in that schema.
class TestServerSchema {
public:
    TestServerSchema();
    ~TestServerSchema();
    TestServerSchema(const TestServerSchema&) = delete;
    TestServerSchema& operator=(const TestServerSchema&) = delete;

    const QString& name() const { return name_; }
    ServerCatalogueConfig config() const;

    // Runs SQL in the schema through the test's own connection (opened again after a
    // server restart); false when it fails.
    bool exec(const QString& sql);
    QVariant value(const QString& sql);
    QSqlDatabase db();

private:
    QString name_;
    QString connection_;
};

}  // namespace kallomir::test
