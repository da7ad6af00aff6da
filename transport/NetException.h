// The exception classes of the internet suite. Every failure of the transport
// and of the mail protocols is one of these, each kind a class of its own with
// a fixed English message; callers tell failures apart by class.
#pragma once

#include <string>

#include "SysUtils.h"

// Declares an exception class together with its class-level raise routines,
// which always raise an instance of the class they are called on
// (ENetReadTimeout::Toss raises ENetReadTimeout, not ENetException).
#define NET_EXCEPTION_RAISERS(Name)                                                    \
    [[noreturn]] static void Toss(const std::string &msg) { throw Name(msg); }         \
    static void IfTrue(bool cond, const std::string &msg = std::string()) {            \
        if (cond) throw Name(msg);                                                     \
    }                                                                                  \
    static void IfFalse(bool cond, const std::string &msg = std::string()) {           \
        if (!cond) throw Name(msg);                                                    \
    }                                                                                  \
    static void IfAssigned(const void *ref, const std::string &msg = std::string()) {  \
        if (ref) throw Name(msg);                                                      \
    }                                                                                  \
    static void IfNotAssigned(const void *ref, const std::string &msg = std::string()) { \
        if (!ref) throw Name(msg);                                                     \
    }                                                                                  \
    static void IfNotInRange(long long v, long long lo, long long hi,                  \
                             const std::string &msg = std::string()) {                 \
        if (v < lo || v > hi) throw Name(msg);                                         \
    }

#define NET_EXCEPTION_CLASS(Name, Base)                                  \
    class Name : public Base {                                           \
    public:                                                              \
        using Base::Base;                                                \
        const char *ClassName() const override { return #Name; }         \
        NET_EXCEPTION_RAISERS(Name)                                      \
    }

class ENetException : public Exception {
public:
    explicit ENetException(std::string msg = std::string()) : Exception(std::move(msg)) {}
    const char *ClassName() const override { return "ENetException"; }
    NET_EXCEPTION_RAISERS(ENetException)
};

// Conditions a caller takes as a normal end rather than an error.
NET_EXCEPTION_CLASS(ENetSilentException, ENetException);
NET_EXCEPTION_CLASS(ENetConnClosedGracefully, ENetSilentException);

NET_EXCEPTION_CLASS(ENetRangeException, ENetException);
NET_EXCEPTION_CLASS(ENetEndOfStream, ENetException);
NET_EXCEPTION_CLASS(ENetInvalidIPv6Address, ENetException);
NET_EXCEPTION_CLASS(ENetFailedToRetreiveTimeZoneInfo, ENetException);

NET_EXCEPTION_CLASS(ENetSocketHandleError, ENetException);
NET_EXCEPTION_CLASS(ENetPackageSizeTooBig, ENetSocketHandleError);
NET_EXCEPTION_CLASS(ENetNotAllBytesSent, ENetSocketHandleError);
NET_EXCEPTION_CLASS(ENetCouldNotBindSocket, ENetSocketHandleError);
NET_EXCEPTION_CLASS(ENetCanNotBindPortInRange, ENetSocketHandleError);
NET_EXCEPTION_CLASS(ENetInvalidPortRange, ENetSocketHandleError);
NET_EXCEPTION_CLASS(ENetCannotSetIPVersionWhenConnected, ENetSocketHandleError);

// A failure of the socket library itself: the system error code, the system's
// text for it and a title. The message is "text: title", or the title alone
// when there is no code.
class ENetWinsockStubError : public ENetException {
public:
    ENetWinsockStubError(int code, std::string title);
    const char *ClassName() const override { return "ENetWinsockStubError"; }
    int Win32Error() const { return FWin32Error; }
    const std::string &Win32ErrorMessage() const { return FWin32ErrorMessage; }
    const std::string &Title() const { return FTitle; }

private:
    int FWin32Error;
    std::string FWin32ErrorMessage;
    std::string FTitle;
};

// A socket call failed; LastError is the Winsock error number.
class ENetSocketError : public ENetException {
public:
    explicit ENetSocketError(std::string msg = std::string()) : ENetException(std::move(msg)) {}
    ENetSocketError(int code, std::string msg) : ENetException(std::move(msg)), FLastError(code) {}
    const char *ClassName() const override { return "ENetSocketError"; }
    int LastError() const { return FLastError; }

private:
    int FLastError = 0;
};
NET_EXCEPTION_CLASS(ENetNotASocket, ENetSocketError);

NET_EXCEPTION_CLASS(ENetStackError, ENetException);
NET_EXCEPTION_CLASS(ENetStackInitializationFailed, ENetStackError);
NET_EXCEPTION_CLASS(ENetStackSetSizeExceeded, ENetStackError);
NET_EXCEPTION_CLASS(ENetIPVersionUnsupported, ENetStackError);
NET_EXCEPTION_CLASS(ENetInvalidServiceName, ENetException);
NET_EXCEPTION_CLASS(ENetIPv6Unavailable, ENetException);

NET_EXCEPTION_CLASS(ENetAlreadyConnected, ENetException);
NET_EXCEPTION_CLASS(ENetClosedSocket, ENetException);
NET_EXCEPTION_CLASS(ENetReadTimeout, ENetException);
NET_EXCEPTION_CLASS(ENetReadLnMaxLineLengthExceeded, ENetException);
NET_EXCEPTION_CLASS(ENetPortRequired, ENetException);
NET_EXCEPTION_CLASS(ENetHostRequired, ENetException);
NET_EXCEPTION_CLASS(ENetNotConnected, ENetException);
NET_EXCEPTION_CLASS(ENetConnectTimeout, ENetException);
NET_EXCEPTION_CLASS(ENetConnectException, ENetException);
NET_EXCEPTION_CLASS(ENetConnectionStateError, ENetException);
NET_EXCEPTION_CLASS(ENetMessageException, ENetException);
NET_EXCEPTION_CLASS(ENetMaxCaptureLineExceeded, ENetException);
NET_EXCEPTION_CLASS(ENetNotEnoughDataInBuffer, ENetException);
NET_EXCEPTION_CLASS(ENetTooMuchDataInBuffer, ENetException);
NET_EXCEPTION_CLASS(ENetInterceptCircularLink, ENetException);

NET_EXCEPTION_CLASS(ENetTCPConnectionError, ENetException);
NET_EXCEPTION_CLASS(ENetObjectTypeNotSupported, ENetTCPConnectionError);
NET_EXCEPTION_CLASS(ENetNoDataToRead, ENetTCPConnectionError);
NET_EXCEPTION_CLASS(ENetFileNotFound, ENetTCPConnectionError);

NET_EXCEPTION_CLASS(ENetIoHandler, ENetException);
NET_EXCEPTION_CLASS(ENetIoHandlerRequiresLargeStream, ENetIoHandler);

NET_EXCEPTION_CLASS(ENetReplyError, ENetException);
// A command reply with a code other than the expected ones.
class ENetReplyRFCError : public ENetReplyError {
public:
    explicit ENetReplyRFCError(std::string msg = std::string()) : ENetReplyError(std::move(msg)) {}
    ENetReplyRFCError(int code, std::string msg) : ENetReplyError(std::move(msg)), FErrorCode(code) {}
    const char *ClassName() const override { return "ENetReplyRFCError"; }
    int ErrorCode() const { return FErrorCode; }

private:
    int FErrorCode = 0;
};

NET_EXCEPTION_CLASS(ENetTransparentProxyCantBind, ENetException);
NET_EXCEPTION_CLASS(ENetTransparentProxyCircularLink, ENetException);
NET_EXCEPTION_CLASS(ENetTransparentProxyUDPNotSupported, ENetException);
NET_EXCEPTION_CLASS(ENetSocksError, ENetException);
NET_EXCEPTION_CLASS(ENetSocksRequestFailed, ENetSocksError);
NET_EXCEPTION_CLASS(ENetSocksRequestServerFailed, ENetSocksError);
NET_EXCEPTION_CLASS(ENetSocksRequestIdentFailed, ENetSocksError);
NET_EXCEPTION_CLASS(ENetSocksUnknownError, ENetSocksError);
NET_EXCEPTION_CLASS(ENetSocksServerRespondError, ENetSocksError);
NET_EXCEPTION_CLASS(ENetSocksAuthMethodError, ENetSocksError);
NET_EXCEPTION_CLASS(ENetSocksAuthError, ENetSocksError);
NET_EXCEPTION_CLASS(ENetSocksServerGeneralError, ENetSocksError);
NET_EXCEPTION_CLASS(ENetSocksServerPermissionError, ENetSocksError);
NET_EXCEPTION_CLASS(ENetSocksServerNetUnreachableError, ENetSocksError);
NET_EXCEPTION_CLASS(ENetSocksServerHostUnreachableError, ENetSocksError);
NET_EXCEPTION_CLASS(ENetSocksServerConnectionRefusedError, ENetSocksError);
NET_EXCEPTION_CLASS(ENetSocksServerTTLExpiredError, ENetSocksError);
NET_EXCEPTION_CLASS(ENetSocksServerCommandError, ENetSocksError);
NET_EXCEPTION_CLASS(ENetSocksServerAddressError, ENetSocksError);
NET_EXCEPTION_CLASS(ENetSocksUDPNotSupportedBySOCKSVersion, ENetSocksError);
