// A test suite that shares one Dovecot among its tests: started by the
// suite's SetUpTestSuite through StartDovecot, stopped after its last test.
// Where Dovecot cannot run here, every test of the suite is skipped with
// the reason.
#pragma once

#include "DovecotServer.h"

#include <cstdlib>
#include <gtest/gtest.h>
#include <string>

// Suite is the fixture that derives from this, so that each suite has a
// server of its own.
template <class Suite>
class DovecotSuite : public ::testing::Test {
protected:
    // False, with the reason kept, where Dovecot cannot run here.
    static bool StartDovecot(const DovecotServer::Options &options = {}) {
        Why = DovecotServer::Unavailable();
        if (!Why.empty()) return false;
        Server = new DovecotServer(options);
        return true;
    }
    static void TearDownTestSuite() {
        delete Server;
        Server = nullptr;
    }
    // Skips the test without a server; otherwise trusts the server's
    // authority for TLS. A fixture's own SetUp calls this first and returns
    // when IsSkipped().
    void SetUp() override {
        if (!Server) GTEST_SKIP() << Why;
        setenv("SSL_CERT_FILE", Server->CaFile().c_str(), 1);
    }

    static inline DovecotServer *Server = nullptr;
    static inline std::string Why;
};
