#pragma once

// Runs catalogue tests against both back ends: the embedded file and the PostgreSQL test
// server (each test on a schema of its own).
#include "catalogue/ServerCatalogue.h"
#include "catalogue/SqliteCatalogue.h"
#include "core/RuntimeError.h"
#include "support/TempHome.h"
#include "support/TestCatalogueServer.h"

#include <QSqlDatabase>
#include <QSqlQuery>

#include <gtest/gtest.h>

#include <functional>
#include <memory>

namespace kallomir::test {

enum class Backend { File, Server };

inline std::string BackendName(const ::testing::TestParamInfo<Backend>& info) {
    return info.param == Backend::File ? "File" : "Server";
}

inline int ErrorNumberOf(const std::function<void()>& action) {
    try {
        action();
    } catch (const RuntimeError& error) {
        return error.number();
    }
    return 0;
}

class CatalogueBackend : public ::testing::TestWithParam<Backend> {
protected:
    void SetUp() override {
        if (server() && !TestCatalogueServer::available())
            GTEST_SKIP() << TestCatalogueServer::skipReason().toStdString();
        if (server()) {
            schema = std::make_unique<TestServerSchema>();
            home.useCatalogue(
                std::make_unique<ServerCatalogue>(schema->config(), home.home(), &settings()));
        }
        catalogue().create();
    }

    bool server() const { return GetParam() == Backend::Server; }
    CatalogueStore& catalogue() { return *home.catalogue; }
    UserSettings& settings() { return home.context->settings; }

    // The last running number given out is n (the settings on this workstation, the counter
    // on the server).
    void startNumbersAfter(qint64 n) {
        settings().save("progressivo", QString::number(n));
        if (server()) {
            ASSERT_TRUE(
                schema->exec(QStringLiteral("UPDATE dati_contatore SET ultimo = %1").arg(n)));
        }
    }

    // Another program holds the table for writing until release() is called.
    class Lock {
    public:
        virtual ~Lock() = default;
        virtual void release() = 0;
    };
    std::unique_ptr<Lock> holdTable() {
        if (server()) {
            struct ServerLock : Lock {
                TestServerSchema* schema;
                explicit ServerLock(TestServerSchema* s) : schema(s) {
                    QSqlQuery(schema->db()).exec("BEGIN");
                    QSqlQuery(schema->db()).exec("LOCK TABLE dati IN ACCESS EXCLUSIVE MODE");
                }
                void release() override { QSqlQuery(schema->db()).exec("ROLLBACK"); }
            };
            return std::make_unique<ServerLock>(schema.get());
        }
        struct FileLock : Lock {
            explicit FileLock(const QString& file) {
                QSqlDatabase holder = QSqlDatabase::addDatabase("QSQLITE", "holder");
                holder.setDatabaseName(file);
                holder.open();
                QSqlQuery(holder).exec("BEGIN EXCLUSIVE");
            }
            void release() override {
                {
                    QSqlDatabase holder = QSqlDatabase::database("holder", false);
                    QSqlQuery(holder).exec("ROLLBACK");
                    holder.close();
                }
                QSqlDatabase::removeDatabase("holder");
            }
        };
        return std::make_unique<FileLock>(SqliteCatalogue::FileInFolder(home.home()));
    }

    std::unique_ptr<TestServerSchema> schema;  // the server's back end only; dropped last
    TempHome home;
};

}  // namespace kallomir::test
