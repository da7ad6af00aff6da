// A scripted TCP peer on 127.0.0.1, run as a Python process that the test
// starts and stops: exact bytes, pauses, splits and closes, for testing
// readers against what real servers do on the wire. See scripted_peer.py
// for the steps ("send:HEX", "sleep:MS", "readline", "close", ...).
#pragma once

#include <initializer_list>
#include <string>
#include <vector>

class ScriptedPeer {
public:
    explicit ScriptedPeer(const std::vector<std::string> &steps);
    ~ScriptedPeer();
    ScriptedPeer(const ScriptedPeer &) = delete;
    ScriptedPeer &operator=(const ScriptedPeer &) = delete;

    int Port() const { return FPort; }
    // Waits for the script to end (at most timeoutMs) and returns everything
    // the peer received.
    std::string Received(int timeoutMs = 5000);

    static std::string Send(const std::string &bytes);  // "send:HEX" step
    static std::string SendRepeated(long long times, const std::string &bytes);
    // Steps of a line protocol: "<" waits for one command line, "!step" is a
    // raw step ("!close", "!sleep:100"), anything else is sent as one line
    // ended by CR LF.
    static std::vector<std::string> Talk(std::initializer_list<std::string> items);

private:
    int FPid = -1;
    int FPort = 0;
    std::string FLogPath;
};
