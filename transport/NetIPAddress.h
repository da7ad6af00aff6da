// An IP address as a value: the kind, the IPv4 number and the IPv6 words,
// made from text and turned back into text (used by the SOCKS code).
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "NetGlobal.h"

class TNetIPAddress {
public:
    TNetIPVersion AddrType = Net_IPv4;
    uint32_t IPv4 = 0;
    uint16_t IPv6[8] = {0, 0, 0, 0, 0, 0, 0, 0};

    // nothing when the text is no address. IPv4 parts may be decimal, octal
    // ("0" first) or hexadecimal ("0x" first); with fewer than four parts the
    // last fills the remaining bytes ("10.1" is 10.0.0.1).
    static std::unique_ptr<TNetIPAddress> MakeAddressObject(const std::string &text);
    static std::unique_ptr<TNetIPAddress> MakeAddressObject(const std::string &text, TNetIPVersion version);
    std::string IPv4AsString() const;
    std::string IPv6AsString() const;
    std::string IPAsString() const { return AddrType == Net_IPv4 ? IPv4AsString() : IPv6AsString(); }
};
