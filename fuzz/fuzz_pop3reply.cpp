// Server bytes through the POP3 reply parser, and through the POP3 client's
// commands (capabilities, count, sizes, header and whole-message fetches,
// unique identifiers) as if a server had sent them.
#include <cstddef>
#include <cstdint>
#include <map>
#include <string>

#include "NetIOHandlerStream.h"
#include "NetPOP3.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    std::string input(reinterpret_cast<const char *>(data), size);

    // Line by line, and all lines as one reply.
    TStringList lines;
    lines.SetText(input);
    TNetReplyPOP3 reply;
    for (const auto &l : lines) {
        reply.IsLastLine(l);
        TNetReplyPOP3::CodeIndex(l);
    }
    reply.SetFormattedReply(lines);
    if (lines.Count() > 0 && reply.Code().empty()) __builtin_trap();
    TNetReplyPOP3 copy;
    reply.AssignTo(copy);
    copy.GetFormattedReply();
    try {
        reply.RaiseReplyError();
    } catch (const ENetReplyPOP3Error &) {
    }

    auto pop = NetCreateNoOwner<TNetPOP3>();
    auto *io = NetCreate<TNetIOHandlerStream>(pop.get(), new TStringStream(input), new TMemoryStream());
    io->MaxLineLength = 256;
    pop->MaxMessageSize = 1 << 16;
    pop->MaxHeaderSize = 1 << 12;
    pop->SetIOHandler(io);
    io->Open();
    auto msg = NetCreateNoOwner<TNetMessage>();
    std::map<int, std::string> uids;
    for (int step = 0; step < 16; ++step) {
        try {
            switch (step % 8) {
            case 0: pop->QueryCapabilities(); break;
            case 1: pop->GetMessageCount(); break;
            case 2: pop->GetMessageSize(1); break;
            case 3: pop->RetrieveHeaders(1, *msg); break;
            case 4: pop->RetrieveMessage(1, *msg); break;
            case 5: pop->GetUIDs(uids); break;
            case 6: pop->GetUID(1); break;
            default: pop->DeleteMessage(1); break;
            }
        } catch (const ENetConnClosedGracefully &) {
            break;
        } catch (const Exception &) {
        }
        if (!pop->IOHandler() || !pop->IOHandler()->Opened()) break;
        for (const auto &[n, uid] : uids)
            if (n < 1 || !TNetPOP3::IsValidUID(uid)) __builtin_trap();
    }
    // The same bytes as the answers to commands sent ahead.
    auto ahead = NetCreateNoOwner<TNetPOP3>();
    auto *io2 = NetCreate<TNetIOHandlerStream>(ahead.get(), new TStringStream(input), new TMemoryStream());
    io2->MaxLineLength = 256;
    ahead->MaxMessageSize = 1 << 16;
    ahead->MaxHeaderSize = 1 << 12;
    ahead->SetIOHandler(io2);
    io2->Open();
    try {
        ahead->SendAhead({"TOP 1 0", "LIST 1", "DELE 1", "TOP 2 0", "TOP 3 0", "RETR 1"});
        for (int step = 0; step < 6 && ahead->PendingReplies() > 0; ++step) {
            try {
                switch (step) {
                case 0: ahead->ReadHeadersReply(*msg); break;
                case 1: ahead->ReadListReply(); break;
                case 2: ahead->ReadStatusReply(); break;
                case 3: ahead->ReadHeadersReply(*msg); break;
                default: ahead->DiscardReply(); break;
                }
            } catch (const ENetReplyPOP3Error &) {
            }
        }
        ahead->DiscardPendingReplies();
        if (ahead->PendingReplies() != 0) __builtin_trap();
    } catch (const Exception &) {
    }
    return 0;
}
