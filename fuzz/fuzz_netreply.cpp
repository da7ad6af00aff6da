// Peer bytes through the IO handler's line, capture and reply readers, and
// address texts through the IPv6 and IPv4 parsers.
#include <cstddef>
#include <cstdint>
#include <string>

#include "NetIOHandlerStream.h"
#include "NetIPAddress.h"
#include "NetTCPConnection.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    std::string input(reinterpret_cast<const char *>(data), size);
    {
        std::string first = input.substr(0, input.find('\n'));
        CanonicalIPv6Text(first);
        TNetIPAddress::MakeAddressObject(first);
    }
    auto conn = NetCreateNoOwner<TNetTCPConnection>();
    auto *io = NetCreate<TNetIOHandlerStream>(conn.get(), new TStringStream(input), new TMemoryStream());
    io->MaxLineLength = 64 + int(size % 64);
    io->MaxLineAction = (size & 1) ? maSplit : maException;
    io->MaxCapturedLines = 50;
    conn->SetIOHandler(io);
    io->Open();
    for (int round = 0; round < 20; ++round) {
        try {
            switch (round % 3) {
            case 0: conn->GetResponse(std::vector<int>{}); break;
            case 1: {
                TStringList lines;
                io->CaptureDotList(lines);
                break;
            }
            default: io->ReadLn("\r\n.\r\n"); break;
            }
        } catch (const ENetConnClosedGracefully &) {
            break;
        } catch (const Exception &) {
        }
    }
    return 0;
}
