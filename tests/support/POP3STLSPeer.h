// A POP3 server (tests/support/pop3_stls_peer.py, Python's ssl module) that
// adds plain-text bytes after its "+OK" to STLS, as a man in the middle
// would: a client must drop them, start TLS and ask for the capabilities
// again. Runs on 127.0.0.1 until the object goes.
#pragma once

#include <string>

class POP3STLSPeer {
public:
    POP3STLSPeer(const std::string &cert, const std::string &key);
    ~POP3STLSPeer();
    POP3STLSPeer(const POP3STLSPeer &) = delete;
    POP3STLSPeer &operator=(const POP3STLSPeer &) = delete;
    int Port() const { return FPort; }

private:
    int FPort = 0;
    int FPid = -1;
};
