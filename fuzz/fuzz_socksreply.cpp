// A SOCKS server's answers: the bytes of the input play the proxy of a
// connect (SOCKS 4, 4A or 5, with or without a user name, chosen by the
// first byte), and whole inputs are taken as reply addresses and as
// datagrams from the UDP relay.
#include <cstddef>
#include <cstdint>
#include <string>

#include "NetIOHandlerStream.h"
#include "NetSocks.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size == 0) return 0;
    const TNetBytes all(data, data + size);
    {
        std::string ip;
        int port = 0;
        size_t start = 0;
        if (SocksDecodeUDPDatagram(all, ip, port, start) && start > size) __builtin_trap();
        TNetIPVersion v = Net_IPv4;
        for (uint8_t type : {1, 3, 4, 9}) SocksDecodeAddress(all, 0, type, ip, port, v);
    }
    auto socks = NetCreateNoOwner<TNetSocksInfo>();
    const uint8_t mode = data[0];
    socks->Version = (mode & 3) == 0 ? svSocks4 : (mode & 3) == 1 ? svSocks4A : svSocks5;
    if (mode & 4) {
        socks->Authentication = saUsernamePassword;
        socks->Username = "user";
        socks->Password = "pass";
    }
    std::string answer(reinterpret_cast<const char *>(data) + 1, size - 1);
    auto io = NetCreateNoOwner<TNetIOHandlerStream>(new TStringStream(answer), new TMemoryStream());
    io->ReadTimeout = 1000;
    io->Open();
    try {
        // A name host never needs resolving here: SOCKS 4 gets an address.
        socks->MakeConnection(io.get(), (mode & 3) == 0 ? "127.0.0.1" : "mail.example", 110, Net_IPv4);
        io->ReadLn();
    } catch (const Exception &) {
    }
    return 0;
}
