// The web-mail route as the checking cycle and the message reader reach it.
// The route itself (untwo) runs in the browser engine, which lives in a
// module the program loads only when it needs it (WebMailModule.h); the
// module installs its routines here (InstallWebMailCalls in untwo.h).
// Without them web-mail accounts are answered with WebMailUnavailableText.
#pragma once

#include <string>

class TNetMessage;

struct TWebMailCalls {
    void (*CreateWebForm)() = nullptr;
    // Trouble may be null (untwo.h).
    bool (*WebHostLogin)(const std::string &Host, const std::string &UserName, const std::string &Password,
                         std::string *Trouble) = nullptr;
    void (*WebHostLogout)() = nullptr;
    int (*WebHostNewMailCount)(bool All) = nullptr;
    bool (*WebHostReadList)(int Position, TNetMessage &Message, bool All) = nullptr;
    bool (*WebHostReadBody)(int Position, TNetMessage &Message, const std::string &Subject,
                            const std::string &MessageId, bool All) = nullptr;
    int (*WebHostLocateMessage)(const std::string &MessageId) = nullptr;
    bool (*WebHostDeleteMessage)(const std::string &MessageId) = nullptr;
};

extern const char *const WebMailUnavailableText;

void SetWebMailCalls(const TWebMailCalls &Calls);
const TWebMailCalls &WebMailCalls();
// Every routine is there. When one is missing, the loader (if set) is asked
// first to bring them: web mail is then wanted for the first time.
bool WebMailAvailable();
// What WebMailAvailable asks when the routines are missing; it answers
// whether it installed them. Empty (the default): nothing is loaded.
void SetWebMailLoader(bool (*Loader)());

// The route has one browser and one page: while the message reader works on
// it, a checking cycle must not start (it would navigate the same page away).
class TWebRouteUse {
public:
    TWebRouteUse();
    ~TWebRouteUse();
    TWebRouteUse(const TWebRouteUse &) = delete;
    TWebRouteUse &operator=(const TWebRouteUse &) = delete;
};
bool WebRouteInUse();
