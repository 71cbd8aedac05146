#pragma once

#include "mapping/failure.h"

// PCP result codes the client acts on (RFC 6887 §7.4).
constexpr int kPcpSuccess = 0;
constexpr int kPcpUnsuppVersion = 1;
constexpr int kPcpNotAuthorized = 2;
constexpr int kPcpNoResources = 8;
constexpr int kPcpCannotProvideExternal = 11;

// NAT-PMP result codes (RFC 6886 §3.5).
constexpr int kNatPmpUnsupportedVersion = 1;

// The failure for a result code a server sent, from the PCP or the NAT-PMP
// table; a code neither table knows keeps its number with a general sentence.
cFailure PcpFailure(int code);
cFailure NatPmpFailure(int code);

// Failures of an exchange that got no usable answer.
cFailure PcpTimeoutFailure(int waitedMs);
cFailure PcpSendFailure();
cFailure PcpNoGatewayFailure();
