// Reply objects of the command/reply protocols: a code and text lines, and
// the RFC format of three-digit codes with "-" marking continued lines.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "Classes.h"
#include "NetException.h"

class TNetReply;

// A set of replies of one kind; a code may stand in it once.
class TNetReplies {
public:
    std::vector<TNetReply *> Items;
    TNetReply *Find(const std::string &code) const;
};

class TNetReply {
public:
    // collection: the set this reply belongs to (nothing: free standing);
    // replyTexts: replies of known codes the protocol may look texts up in.
    explicit TNetReply(TNetReplies *collection = nullptr, TNetReplies *replyTexts = nullptr);
    virtual ~TNetReply();
    TNetReply(const TNetReply &) = delete;
    TNetReply &operator=(const TNetReply &) = delete;
    virtual const char *ClassName() const { return "TNetReply"; }

    const std::string &Code() const { return FCode; }
    // ENetException "Reply Code is not valid: %s" for a code the class refuses.
    void SetCode(const std::string &value);
    int NumericCode() const;
    void SetNumericCode(int value);
    TStringList Text;

    virtual bool CheckIfCodeIsValid(const std::string &code);
    virtual TStringList GetFormattedReply();
    virtual void SetFormattedReply(const TStringList &lines) = 0;
    virtual void Clear();
    virtual bool IsLastLine(const std::string &line);
    [[noreturn]] virtual void RaiseReplyError() = 0;
    virtual bool ReplyExists();
    void SetReply(int code, const std::string &text);
    void SetReply(const std::string &code, const std::string &text);
    // Copies the code and text lines into dest.
    virtual void AssignTo(TNetReply &dest) const;
    // The code, then a blank and the first text line when there is one.
    std::string DisplayName() const;
    // The text lines joined by CR LF, the form exceptions carry.
    std::string TextJoined() const;

protected:
    std::string FCode;
    TNetReplies *FCollection;
    TNetReplies *FReplyTexts;
};

class TNetReplyRFC : public TNetReply {
public:
    using TNetReply::TNetReply;
    const char *ClassName() const override { return "TNetReplyRFC"; }
    bool CheckIfCodeIsValid(const std::string &code) override;
    TStringList GetFormattedReply() override;
    void SetFormattedReply(const TStringList &lines) override;
    bool IsLastLine(const std::string &line) override;
    [[noreturn]] void RaiseReplyError() override;
    bool ReplyExists() override;
    void AssignTo(TNetReply &dest) const override;
};

// Makes the reply objects of a connection; protocol clients return their own.
using TNetReplyClass = std::function<std::unique_ptr<TNetReply>()>;
