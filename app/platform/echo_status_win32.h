// What an ICMP echo status of IP Helper says about the address, shared by
// the single echo request and the prober so that both judge alike, and as
// the Linux layer does: only an echo reply is an answer; a time-out or an
// unreachable host (the local address resolution found nobody) is silence;
// a request the system could not send at all tells nothing and never makes
// an address pass for free.
#pragma once

#include "HostNetwork.h"

#include <ipexport.h>

namespace hostnet {

inline int EchoStatusResult(unsigned long status)
{
    switch (status) {
    case IP_SUCCESS:
        return kEchoAnswered;
    case IP_REQ_TIMED_OUT:
    case IP_DEST_HOST_UNREACHABLE:
    case IP_DEST_PROT_UNREACHABLE:
    case IP_DEST_PORT_UNREACHABLE:
    case IP_TTL_EXPIRED_TRANSIT:
    case IP_TTL_EXPIRED_REASSEM:
    case IP_SOURCE_QUENCH:
        return kEchoSilent;
    default:
        // IP_DEST_NET_UNREACHABLE (no route: an adapter that is down),
        // IP_BAD_DESTINATION (a broadcast address), IP_GENERAL_FAILURE,
        // IP_NO_RESOURCES, IP_HW_ERROR and the like.
        return kEchoNotSent;
    }
}

} // namespace hostnet
