// Mechanisms for the SASL log-in: PLAIN (RFC 4616), LOGIN (the
// username/password prompts most servers offer) and CRAM-MD5 (RFC 2195).
// Each takes the user name and password it is given before the log-in.
#pragma once

#include <string>

#include "NetSASL.h"

class TNetSASLUserPass : public TNetSASL {
public:
    const char *ClassName() const override { return "TNetSASLUserPass"; }
    std::string Username;
    std::string Password;

protected:
    explicit TNetSASLUserPass(TNetInitializerComponent *owner) : TNetSASL(owner) {}
};

// Sends authorization identity (empty), user name and password, separated
// by NUL bytes, as the first response.
class TNetSASLPlain : public TNetSASLUserPass {
public:
    const char *ClassName() const override { return "TNetSASLPlain"; }
    std::string ServiceName() const override { return "PLAIN"; }
    // A NUL inside the user name or password would shift the fields: such
    // credentials are refused with ENetSASLException.
    std::string StartAuthenticate(const std::string &challenge) override;

protected:
    explicit TNetSASLPlain(TNetInitializerComponent *owner) : TNetSASLUserPass(owner) {}
};

// Answers the first challenge with the user name and the second with the
// password, whatever the prompts say; nothing after that.
class TNetSASLLogin : public TNetSASLUserPass {
public:
    const char *ClassName() const override { return "TNetSASLLogin"; }
    std::string ServiceName() const override { return "LOGIN"; }
    std::string StartAuthenticate(const std::string &challenge) override;
    std::string ContinueAuthenticate(const std::string &challenge) override;
    void FinishAuthenticate() override { FStep = 0; }

protected:
    explicit TNetSASLLogin(TNetInitializerComponent *owner) : TNetSASLUserPass(owner) {}

private:
    int FStep = 0;
};

// Answers the server's challenge with the user name, a blank and the
// lower-case hexadecimal HMAC-MD5 of the challenge keyed with the password.
class TNetSASLCRAMMD5 : public TNetSASLUserPass {
public:
    const char *ClassName() const override { return "TNetSASLCRAMMD5"; }
    std::string ServiceName() const override { return "CRAM-MD5"; }
    std::string StartAuthenticate(const std::string &challenge) override;

protected:
    explicit TNetSASLCRAMMD5(TNetInitializerComponent *owner) : TNetSASLUserPass(owner) {}
};
