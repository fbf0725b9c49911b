// OPC UA status codes used by the stack and by the servers and clients built
// on it. The top two bits give the severity: 00 Good, 01 Uncertain, 10 Bad.
#pragma once

#include <cstdint>

namespace opcua {

using StatusCode = uint32_t;

constexpr bool IsGood(StatusCode s) { return (s & 0xC0000000u) == 0; }
constexpr bool IsUncertain(StatusCode s) { return (s & 0xC0000000u) == 0x40000000u; }
constexpr bool IsBad(StatusCode s) { return (s & 0x80000000u) != 0; }

// The symbolic name of a code ("BadNodeIdUnknown"), or "0x...." for one this
// stack does not name. Points to static storage for named codes only; the
// returned text for an unnamed code lives in a thread-local buffer.
const char* StatusCodeName(StatusCode code);

namespace status {
constexpr StatusCode Good = 0x00000000;
constexpr StatusCode Uncertain = 0x40000000;
constexpr StatusCode Bad = 0x80000000;
constexpr StatusCode BadUnexpectedError = 0x80010000;
constexpr StatusCode BadInternalError = 0x80020000;
constexpr StatusCode BadOutOfMemory = 0x80030000;
constexpr StatusCode BadResourceUnavailable = 0x80040000;
constexpr StatusCode BadCommunicationError = 0x80050000;
constexpr StatusCode BadEncodingError = 0x80060000;
constexpr StatusCode BadDecodingError = 0x80070000;
constexpr StatusCode BadEncodingLimitsExceeded = 0x80080000;
constexpr StatusCode BadUnknownResponse = 0x80090000;
constexpr StatusCode BadTimeout = 0x800A0000;
constexpr StatusCode BadServiceUnsupported = 0x800B0000;
constexpr StatusCode BadShutdown = 0x800C0000;
constexpr StatusCode BadServerNotConnected = 0x800D0000;
constexpr StatusCode BadNothingToDo = 0x800F0000;
constexpr StatusCode BadTooManyOperations = 0x80100000;
constexpr StatusCode BadDataTypeIdUnknown = 0x80110000;
constexpr StatusCode BadSecurityChecksFailed = 0x80130000;
constexpr StatusCode BadUserAccessDenied = 0x801F0000;
constexpr StatusCode BadIdentityTokenInvalid = 0x80200000;
constexpr StatusCode BadIdentityTokenRejected = 0x80210000;
constexpr StatusCode BadSecureChannelIdInvalid = 0x80220000;
constexpr StatusCode BadNonceInvalid = 0x80240000;
constexpr StatusCode BadSessionIdInvalid = 0x80250000;
constexpr StatusCode BadSessionClosed = 0x80260000;
constexpr StatusCode BadSessionNotActivated = 0x80270000;
constexpr StatusCode BadSubscriptionIdInvalid = 0x80280000;
constexpr StatusCode BadRequestHeaderInvalid = 0x802A0000;
constexpr StatusCode BadTimestampsToReturnInvalid = 0x802B0000;
constexpr StatusCode BadWaitingForInitialData = 0x80320000;
constexpr StatusCode BadNodeIdInvalid = 0x80330000;
constexpr StatusCode BadNodeIdUnknown = 0x80340000;
constexpr StatusCode BadAttributeIdInvalid = 0x80350000;
constexpr StatusCode BadIndexRangeInvalid = 0x80360000;
constexpr StatusCode BadIndexRangeNoData = 0x80370000;
constexpr StatusCode BadDataEncodingInvalid = 0x80380000;
constexpr StatusCode BadDataEncodingUnsupported = 0x80390000;
constexpr StatusCode BadNotReadable = 0x803A0000;
constexpr StatusCode BadNotWritable = 0x803B0000;
constexpr StatusCode BadOutOfRange = 0x803C0000;
constexpr StatusCode BadNotSupported = 0x803D0000;
constexpr StatusCode BadNotFound = 0x803E0000;
constexpr StatusCode BadNotImplemented = 0x80400000;
constexpr StatusCode BadMonitoringModeInvalid = 0x80410000;
constexpr StatusCode BadMonitoredItemIdInvalid = 0x80420000;
constexpr StatusCode BadMonitoredItemFilterInvalid = 0x80430000;
constexpr StatusCode BadMonitoredItemFilterUnsupported = 0x80440000;
constexpr StatusCode BadContinuationPointInvalid = 0x804A0000;
constexpr StatusCode BadNoContinuationPoints = 0x804B0000;
constexpr StatusCode BadReferenceTypeIdInvalid = 0x804C0000;
constexpr StatusCode BadBrowseDirectionInvalid = 0x804D0000;
constexpr StatusCode BadSecurityModeRejected = 0x80540000;
constexpr StatusCode BadSecurityPolicyRejected = 0x80550000;
constexpr StatusCode BadTooManySessions = 0x80560000;
constexpr StatusCode BadBrowseNameInvalid = 0x80600000;
constexpr StatusCode BadViewIdUnknown = 0x806B0000;
constexpr StatusCode BadNoMatch = 0x806F0000;
constexpr StatusCode BadWriteNotSupported = 0x80730000;
constexpr StatusCode BadTypeMismatch = 0x80740000;
constexpr StatusCode BadTooManySubscriptions = 0x80770000;
constexpr StatusCode BadTooManyPublishRequests = 0x80780000;
constexpr StatusCode BadNoSubscription = 0x80790000;
constexpr StatusCode BadSequenceNumberUnknown = 0x807A0000;
constexpr StatusCode BadMessageNotAvailable = 0x807B0000;
constexpr StatusCode BadTcpServerTooBusy = 0x807D0000;
constexpr StatusCode BadTcpMessageTypeInvalid = 0x807E0000;
constexpr StatusCode BadTcpSecureChannelUnknown = 0x807F0000;
constexpr StatusCode BadTcpMessageTooLarge = 0x80800000;
constexpr StatusCode BadTcpNotEnoughResources = 0x80810000;
constexpr StatusCode BadTcpInternalError = 0x80820000;
constexpr StatusCode BadTcpEndpointUrlInvalid = 0x80830000;
constexpr StatusCode BadRequestInterrupted = 0x80840000;
constexpr StatusCode BadRequestTimeout = 0x80850000;
constexpr StatusCode BadSecureChannelClosed = 0x80860000;
constexpr StatusCode BadSecureChannelTokenUnknown = 0x80870000;
constexpr StatusCode BadSequenceNumberInvalid = 0x80880000;
constexpr StatusCode BadNotConnected = 0x808A0000;
constexpr StatusCode BadInvalidArgument = 0x80AB0000;
constexpr StatusCode BadConnectionRejected = 0x80AC0000;
constexpr StatusCode BadDisconnect = 0x80AD0000;
constexpr StatusCode BadConnectionClosed = 0x80AE0000;
constexpr StatusCode BadInvalidState = 0x80AF0000;
constexpr StatusCode BadRequestTooLarge = 0x80B80000;
constexpr StatusCode BadResponseTooLarge = 0x80B90000;
constexpr StatusCode BadProtocolVersionUnsupported = 0x80BE0000;
constexpr StatusCode BadTooManyMonitoredItems = 0x80DB0000;
}  // namespace status

}  // namespace opcua
