#include "POP3STLSPeer.h"

#include "ChildProcess.h"

POP3STLSPeer::POP3STLSPeer(const std::string &cert, const std::string &key) {
    FPid = StartPeerProcess({PythonProgram(), std::string(TW_SOURCE_DIR) + "/tests/support/pop3_stls_peer.py",
                             "--cert", cert, "--key", key},
                            "PORT ", FPort);
}

POP3STLSPeer::~POP3STLSPeer() { StopPeerProcess(FPid); }
