// A table of exports made of plain functions: each configuration request is
// written down and answered with the next scripted result.
#pragma once

#include "client/Exports.h"

#include <string>
#include <vector>

namespace fake {

inline std::vector<std::string> requests;
inline std::vector<int32_t> answers;
inline int32_t searchPolls = 0; // Zarfel_GetState answers 1 this many times

inline std::string text(const char *t)
{
    return t ? t : "-";
}

inline int32_t ZARFEL_CALL configModule(int32_t n, const char *ip, const char *mask, const char *gateway,
                                        const char *mac, int32_t dhcp, const char *alias)
{
    requests.push_back(std::to_string(n) + " " + text(ip) + " " + text(mask) + " " + text(gateway) + " " +
                       text(mac) + " " + std::to_string(dhcp) + " " + text(alias));
    const std::size_t k = requests.size() - 1;
    return k < answers.size() ? answers[k] : 0;
}

inline int32_t ZARFEL_CALL getState()
{
    return searchPolls > 0 ? (--searchPolls, 1) : 0;
}

inline zclient::Exports exports(std::vector<int32_t> scripted = {})
{
    requests.clear();
    answers = std::move(scripted);
    zclient::Exports x;
    x.configModule = &configModule;
    x.getState = &getState;
    return x;
}

} // namespace fake
