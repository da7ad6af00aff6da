// More certificates from the test authority of TestPKI, for tests of how a
// server's certificate is matched against the name or address asked for.
#pragma once

#include <string>

// Issues a certificate for the servers' shared key (TestPKI::Key) with the
// given common name and subjectAltName (empty: none at all), valid from
// start to end (YYYYMMDDHHMMSSZ; empty: from a day ago for 30 days).
// Returns its PEM file; throws when the openssl command fails.
std::string IssueTestCert(const std::string &cn, const std::string &san, const std::string &start = "",
                          const std::string &end = "");
