#include "NetSASLMechanisms.h"

#include "NetHashMessageDigest.h"

std::string TNetSASLPlain::StartAuthenticate(const std::string &) {
    if (Username.find('\0') != std::string::npos || Password.find('\0') != std::string::npos)
        ENetSASLException::Toss("User name or password holds a NUL character.");
    std::string response;
    response.reserve(Username.size() + Password.size() + 2);
    response += '\0';
    response += Username;
    response += '\0';
    response += Password;
    return response;
}

std::string TNetSASLLogin::StartAuthenticate(const std::string &) {
    FStep = 1;
    return Username;
}

std::string TNetSASLLogin::ContinueAuthenticate(const std::string &) {
    if (FStep++ == 1) return Password;
    return std::string();
}

std::string TNetSASLCRAMMD5::StartAuthenticate(const std::string &challenge) {
    return Username + " " + NetHashToLowerHex(NetHMACMD5(Password, challenge));
}
