#include "NetTCPConnection.h"

#include <algorithm>

TNetTCPConnection::~TNetTCPConnection() {
    try {
        if (FIOHandler && FIOHandler->Opened()) FIOHandler->Close();
    } catch (...) {
    }
    try {
        SetIOHandler(nullptr);
    } catch (...) {
    }
}

void TNetTCPConnection::InitComponent() {
    TNetComponent::InitComponent();
    FReplyClass = GetReplyClass();
    FGreeting = FReplyClass();
    FLastCmdResult = FReplyClass();
}

TNetReplyClass TNetTCPConnection::GetReplyClass() {
    return [] { return std::unique_ptr<TNetReply>(new TNetReplyRFC()); };
}

void TNetTCPConnection::Notification(TNetInitializerComponent *comp, TOperation operation) {
    TNetComponent::Notification(comp, operation);
    if (operation == opRemove && comp == FIOHandler) {
        FIOHandler = nullptr;
        FSocket = nullptr;
        FManagedIOHandler = false;
    }
}

void TNetTCPConnection::SetIOHandler(TNetIOHandler *handler) {
    if (handler == FIOHandler) return;
    TNetIOHandler *old = FIOHandler;
    if (old) {
        old->SetWorkTarget(nullptr);
        RemoveFreeNotification(old);
        FIOHandler = nullptr;
        FSocket = nullptr;
        if (FManagedIOHandler) delete old;
    }
    FManagedIOHandler = false;
    if (handler) {
        handler->SetWorkTarget(this);
        FreeNotification(handler);
    }
    FSocket = dynamic_cast<TNetIOHandlerSocket *>(handler);
    FIOHandler = handler;
}

void TNetTCPConnection::CheckConnected() {
    if (!FIOHandler) ENetNotConnected::Toss("Not connected.");
}

bool TNetTCPConnection::Connected() { return FIOHandler && FIOHandler->Connected(); }

void TNetTCPConnection::DoOnDisconnected() {
    if (OnDisconnected) OnDisconnected(this);
}

void TNetTCPConnection::Disconnect(bool notifyPeer) {
    // The handler is closed even when the goodbye to the peer fails, so a
    // lost connection never leaves the client looking connected.
    std::exception_ptr failure;
    if (notifyPeer && Connected()) {
        try {
            DisconnectNotifyPeer();
        } catch (...) {
            failure = std::current_exception();
        }
    }
    if (FIOHandler && FIOHandler->Opened()) {
        DoStatus(hsDisconnecting);
        FIOHandler->Close();
        DoOnDisconnected();
        DoStatus(hsDisconnected);
    } else if (FIOHandler && !FIOHandler->InputBufferIsEmpty()) {
        // The peer closed first and left bytes nobody read: they alone
        // would keep the connection looking connected.
        FIOHandler->Close();
    }
    if (failure) std::rethrow_exception(failure);
}

void TNetTCPConnection::CheckForGracefulDisconnect(bool raiseExceptionIfDisconnected) {
    if (FIOHandler)
        FIOHandler->CheckForDisconnect(raiseExceptionIfDisconnected, false);
    else if (raiseExceptionIfDisconnected)
        ENetException::Toss("Not Connected");
}

void TNetTCPConnection::GetInternalResponse() {
    CheckConnected();
    TStringList lines;
    lines.Add(FIOHandler->ReadLnWait(NetMaxInt32));
    while (!FLastCmdResult->IsLastLine(lines[lines.Count() - 1])) {
        std::string line = FIOHandler->ReadLn();
        // A peer that goes silent inside a reply is an error, never a blank line.
        if (FIOHandler->ReadLnTimedOut()) ENetReadTimeout::Toss("Read Timeout");
        if (lines.Count() >= NetMaxReplyLines)
            ENetMaxCaptureLineExceeded::Toss("Maximum number of line allowed exceeded");
        lines.Add(std::move(line));
    }
    FLastCmdResult->SetFormattedReply(lines);
}

int TNetTCPConnection::GetResponse(const std::vector<int> &acceptedCodes) {
    GetInternalResponse();
    return CheckResponse(FLastCmdResult->NumericCode(), acceptedCodes);
}

std::string TNetTCPConnection::GetResponse(std::string_view acceptedCode) {
    GetInternalResponse();
    return CheckResponse(FLastCmdResult->Code(), acceptedCode);
}

int TNetTCPConnection::CheckResponse(int code, const std::vector<int> &acceptedCodes) {
    if (!acceptedCodes.empty() && std::find(acceptedCodes.begin(), acceptedCodes.end(), code) == acceptedCodes.end())
        RaiseExceptionForLastCmdResult();
    return code;
}

std::string TNetTCPConnection::CheckResponse(const std::string &code, std::string_view acceptedCode) {
    if (!acceptedCode.empty() && !TextIsSame(code, acceptedCode)) RaiseExceptionForLastCmdResult();
    return code;
}

void TNetTCPConnection::RaiseExceptionForLastCmdResult() {
    FLastCmdResult->RaiseReplyError();
    throw ENetReplyError(FLastCmdResult->TextJoined());  // a reply class that did not raise
}

int TNetTCPConnection::SendCmd(const std::string &command, const std::vector<int> &acceptedCodes) {
    CheckConnected();
    std::string cmd = command;
    PrepareCmd(cmd);
    FIOHandler->WriteLn(cmd);
    return GetResponse(acceptedCodes);
}

int TNetTCPConnection::SendCmdOneCode(const std::string &command, int acceptedCode) {
    if (acceptedCode == 65535 || acceptedCode == -1) return SendCmd(command, {});
    return SendCmd(command, {acceptedCode});
}

std::string TNetTCPConnection::SendCmdExpectText(const std::string &command, std::string_view acceptedCode) {
    CheckConnected();
    std::string cmd = command;
    PrepareCmd(cmd);
    FIOHandler->WriteLn(cmd);
    return GetResponse(acceptedCode);
}
