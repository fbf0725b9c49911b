#include "opcua/statuscodes.h"

#include <cstdio>

namespace opcua {

const char* StatusCodeName(StatusCode code) {
  using namespace status;
  switch (code & 0xFFFF0000u) {
#define OPCUA_NAME(c) \
  case c:             \
    return #c;
    OPCUA_NAME(Good)
    OPCUA_NAME(Uncertain)
    OPCUA_NAME(Bad)
    OPCUA_NAME(BadUnexpectedError)
    OPCUA_NAME(BadInternalError)
    OPCUA_NAME(BadOutOfMemory)
    OPCUA_NAME(BadResourceUnavailable)
    OPCUA_NAME(BadCommunicationError)
    OPCUA_NAME(BadEncodingError)
    OPCUA_NAME(BadDecodingError)
    OPCUA_NAME(BadEncodingLimitsExceeded)
    OPCUA_NAME(BadUnknownResponse)
    OPCUA_NAME(BadTimeout)
    OPCUA_NAME(BadServiceUnsupported)
    OPCUA_NAME(BadShutdown)
    OPCUA_NAME(BadServerNotConnected)
    OPCUA_NAME(BadNothingToDo)
    OPCUA_NAME(BadTooManyOperations)
    OPCUA_NAME(BadDataTypeIdUnknown)
    OPCUA_NAME(BadSecurityChecksFailed)
    OPCUA_NAME(BadUserAccessDenied)
    OPCUA_NAME(BadIdentityTokenInvalid)
    OPCUA_NAME(BadIdentityTokenRejected)
    OPCUA_NAME(BadSecureChannelIdInvalid)
    OPCUA_NAME(BadNonceInvalid)
    OPCUA_NAME(BadSessionIdInvalid)
    OPCUA_NAME(BadSessionClosed)
    OPCUA_NAME(BadSessionNotActivated)
    OPCUA_NAME(BadSubscriptionIdInvalid)
    OPCUA_NAME(BadRequestHeaderInvalid)
    OPCUA_NAME(BadTimestampsToReturnInvalid)
    OPCUA_NAME(BadWaitingForInitialData)
    OPCUA_NAME(BadNodeIdInvalid)
    OPCUA_NAME(BadNodeIdUnknown)
    OPCUA_NAME(BadAttributeIdInvalid)
    OPCUA_NAME(BadIndexRangeInvalid)
    OPCUA_NAME(BadIndexRangeNoData)
    OPCUA_NAME(BadDataEncodingInvalid)
    OPCUA_NAME(BadDataEncodingUnsupported)
    OPCUA_NAME(BadNotReadable)
    OPCUA_NAME(BadNotWritable)
    OPCUA_NAME(BadOutOfRange)
    OPCUA_NAME(BadNotSupported)
    OPCUA_NAME(BadNotFound)
    OPCUA_NAME(BadNotImplemented)
    OPCUA_NAME(BadMonitoringModeInvalid)
    OPCUA_NAME(BadMonitoredItemIdInvalid)
    OPCUA_NAME(BadMonitoredItemFilterInvalid)
    OPCUA_NAME(BadMonitoredItemFilterUnsupported)
    OPCUA_NAME(BadContinuationPointInvalid)
    OPCUA_NAME(BadNoContinuationPoints)
    OPCUA_NAME(BadReferenceTypeIdInvalid)
    OPCUA_NAME(BadBrowseDirectionInvalid)
    OPCUA_NAME(BadSecurityModeRejected)
    OPCUA_NAME(BadSecurityPolicyRejected)
    OPCUA_NAME(BadTooManySessions)
    OPCUA_NAME(BadBrowseNameInvalid)
    OPCUA_NAME(BadViewIdUnknown)
    OPCUA_NAME(BadNoMatch)
    OPCUA_NAME(BadWriteNotSupported)
    OPCUA_NAME(BadTypeMismatch)
    OPCUA_NAME(BadTooManySubscriptions)
    OPCUA_NAME(BadTooManyPublishRequests)
    OPCUA_NAME(BadNoSubscription)
    OPCUA_NAME(BadSequenceNumberUnknown)
    OPCUA_NAME(BadMessageNotAvailable)
    OPCUA_NAME(BadTcpServerTooBusy)
    OPCUA_NAME(BadTcpMessageTypeInvalid)
    OPCUA_NAME(BadTcpSecureChannelUnknown)
    OPCUA_NAME(BadTcpMessageTooLarge)
    OPCUA_NAME(BadTcpNotEnoughResources)
    OPCUA_NAME(BadTcpInternalError)
    OPCUA_NAME(BadTcpEndpointUrlInvalid)
    OPCUA_NAME(BadRequestInterrupted)
    OPCUA_NAME(BadRequestTimeout)
    OPCUA_NAME(BadSecureChannelClosed)
    OPCUA_NAME(BadSecureChannelTokenUnknown)
    OPCUA_NAME(BadSequenceNumberInvalid)
    OPCUA_NAME(BadNotConnected)
    OPCUA_NAME(BadInvalidArgument)
    OPCUA_NAME(BadConnectionRejected)
    OPCUA_NAME(BadDisconnect)
    OPCUA_NAME(BadConnectionClosed)
    OPCUA_NAME(BadInvalidState)
    OPCUA_NAME(BadRequestTooLarge)
    OPCUA_NAME(BadResponseTooLarge)
    OPCUA_NAME(BadProtocolVersionUnsupported)
    OPCUA_NAME(BadTooManyMonitoredItems)
#undef OPCUA_NAME
    default:
      break;
  }
  thread_local char text[16];
  std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(code));
  return text;
}

}  // namespace opcua
