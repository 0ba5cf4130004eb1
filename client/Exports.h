// The library's exports as a table of function pointers. The client layer
// calls nothing else, so one build serves callers that link the library by
// name and callers that bind its exports by number at run time.
#pragma once

#include "zarfel.h"

namespace zclient {

struct Exports {
    decltype(&Zarfel_Init) init = nullptr;                           // 2
    decltype(&Zarfel_Close) close = nullptr;                         // 3
    decltype(&Zarfel_BroadcastStart) broadcastStart = nullptr;       // 4
    decltype(&Zarfel_BroadcastStop) broadcastStop = nullptr;         // 5
    decltype(&Zarfel_GetModuleInfo) getModuleInfo = nullptr;         // 6
    decltype(&Zarfel_GetState) getState = nullptr;                   // 7
    decltype(&Zarfel_GetCount) getCount = nullptr;                   // 8
    decltype(&Zarfel_ConfigModule) configModule = nullptr;           // 9
    decltype(&Zarfel_SetOptions) setOptions = nullptr;               // 10
    decltype(&Zarfel_SetMessageHandler) setMessageHandler = nullptr; // 11
    decltype(&Zarfel_GetModuleAdapter) getModuleAdapter = nullptr;   // 12
    decltype(&Zarfel_GetIgnoredAcknowledgement) getIgnoredAcknowledgement = nullptr; // 13
    decltype(&Zarfel_GetSocketFailure) getSocketFailure = nullptr;                   // 14
};

// For callers that link the library: inline, so that only they need it.
inline Exports linkedExports()
{
    return {&Zarfel_Init,       &Zarfel_Close,    &Zarfel_BroadcastStart, &Zarfel_BroadcastStop,
            &Zarfel_GetModuleInfo, &Zarfel_GetState, &Zarfel_GetCount,   &Zarfel_ConfigModule,
            &Zarfel_SetOptions, &Zarfel_SetMessageHandler, &Zarfel_GetModuleAdapter,
            &Zarfel_GetIgnoredAcknowledgement, &Zarfel_GetSocketFailure};
}

} // namespace zclient
