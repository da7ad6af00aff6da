// Exceptions of the message layer, beside the suite's tree.
#pragma once

#include "NetException.h"
#include "NetGlobal.h"

NET_EXCEPTION_CLASS(ENetEmailParseError, ENetException);
NET_EXCEPTION_CLASS(ENetMissingColon, ENetException);
NET_EXCEPTION_CLASS(ENetMessageCannotLoad, ENetMessageException);
NET_EXCEPTION_CLASS(ENetCanNotCreateMessagePart, ENetMessageException);
// A message larger than the loader accepts.
NET_EXCEPTION_CLASS(ENetMessageTooLarge, ENetMessageException);
