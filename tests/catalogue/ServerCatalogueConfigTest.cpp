// Which catalogue RIZEDUZO.INI names, and what a [CATALOGO] section may hold.
#include "catalogue/OpenCatalogue.h"
#include "catalogue/ServerCatalogue.h"
#include "catalogue/SqliteCatalogue.h"
#include "core/RuntimeError.h"
#include "support/TempHome.h"

#include <gtest/gtest.h>

using namespace kallomir;
using namespace kallomir::test;

namespace {

struct ConfigCase {
    const char* name;
    const char* ini;
    bool server;
    const char* error;     // part of the message; nullptr when none
    const char* describe;  // the server as messages name it
};

const ConfigCase kCases[] = {
    {"no section", "[PATH]\nDATI=/tmp/\n", false, nullptr, nullptr},
    {"section without HOST", "[CATALOGO]\nPORTA=5432\n", false, nullptr, nullptr},
    {"defaults", "[CATALOGO]\nHOST=db.ufficio\n", true, nullptr, "db.ufficio:5432/kallomir"},
    {"every key",
     "[catalogo]\nhost = 10.0.0.5\nPORTA=6543\nDATABASE=registro\nUTENTE=posto2\n"
     "PASSWORDFILE=/etc/k.pw\nSSLMODE=Verify-Full\nSSLROOTCERT=/etc/ca.pem\n"
     "SCHEMA=ufficio_2\nTIMEOUT=5\n",
     true, nullptr, "posto2@10.0.0.5:6543/registro (schema ufficio_2)"},
    {"port no number", "[CATALOGO]\nHOST=h\nPORTA=54x\n", true, "PORTA=54x", nullptr},
    {"port out of range", "[CATALOGO]\nHOST=h\nPORTA=70000\n", true, "PORTA=70000", nullptr},
    {"unknown sslmode", "[CATALOGO]\nHOST=h\nSSLMODE=sometimes\n", true, "SSLMODE=sometimes",
     nullptr},
    {"schema with a quote", "[CATALOGO]\nHOST=h\nSCHEMA=a\"b\n", true, "SCHEMA=a\"b", nullptr},
    {"timeout zero", "[CATALOGO]\nHOST=h\nTIMEOUT=0\n", true, "TIMEOUT=0", nullptr},
};

TEST(ServerCatalogueConfig, ReadFromTheCatalogoSection) {
    for (const ConfigCase& c : kCases) {
        SCOPED_TRACE(c.name);
        TempHome home;
        home.writeFile("RIZEDUZO.INI", c.ini);
        try {
            const auto store = OpenConfiguredCatalogue(home.home(), nullptr);
            EXPECT_EQ(c.error, nullptr) << "no error for " << c.name;
            const auto* server = qobject_cast<ServerCatalogue*>(store.get());
            EXPECT_EQ(server != nullptr, c.server);
            if (server) {
                EXPECT_EQ(server->location(), c.describe);
            } else {
                EXPECT_EQ(store->location(), home.path("datirec.mdb"));
            }
        } catch (const RuntimeError& error) {
            ASSERT_NE(c.error, nullptr) << error.description().toStdString();
            EXPECT_TRUE(error.description().contains(c.error)) << error.description().toStdString();
            EXPECT_TRUE(error.description().contains("[CATALOGO]"));
        }
    }
}

TEST(ServerCatalogueConfig, EveryKeyReachesTheConfiguration) {
    TempHome home;
    home.writeFile("RIZEDUZO.INI", kCases[3].ini);
    const auto config = ReadServerCatalogueConfig(home.path("RIZEDUZO.INI"));
    ASSERT_TRUE(config.has_value());
    EXPECT_EQ(config->passwordFile, "/etc/k.pw");
    EXPECT_EQ(config->sslMode, "verify-full");
    EXPECT_EQ(config->sslRootCert, "/etc/ca.pem");
    EXPECT_EQ(config->connectTimeoutSeconds, 5);
}

}  // namespace
