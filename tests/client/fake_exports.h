// A table of exports made of plain functions: each configuration request is
// written down and answered with the next scripted result.
#pragma once

#include "client/Exports.h"
#include "client/Record.h"

#include <algorithm>
#include <cstring>

#include <string>
#include <vector>

namespace fake {

inline std::vector<std::string> requests;
inline std::vector<int32_t> answers;
inline int32_t searchPolls = 0; // Zarfel_GetState answers 1 this many times
// A search's table: record k comes in after (k + 1) * pollsPerRecord polls.
inline std::vector<zclient::Record> table;
inline int32_t pollsPerRecord = 1;
inline int32_t polled = 0;
inline bool stopped = false;

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
    return searchPolls > 0 ? (--searchPolls, ++polled, 1) : 0;
}

inline int32_t ZARFEL_CALL broadcastStart(const char *, int32_t, const char *)
{
    polled = 0;
    stopped = false;
    return 14;
}

inline int32_t ZARFEL_CALL broadcastStop()
{
    stopped = true;
    searchPolls = 0;
    return 0;
}

inline int32_t ZARFEL_CALL getCount()
{
    return std::min(static_cast<int32_t>(table.size()), polled / pollsPerRecord);
}

inline int32_t ZARFEL_CALL getModuleInfo(int32_t n, char *name, char *alias, char *ip, char *mask, char *gateway,
                                         char *mac, int32_t *dhcp)
{
    if (n < 1 || n > getCount())
        return -1;
    const zclient::Record &r = table[static_cast<std::size_t>(n - 1)];
    for (auto [to, from] : {std::pair{name, &r.name}, {alias, &r.alias}, {ip, &r.ip}, {mask, &r.mask},
                            {gateway, &r.gateway}, {mac, &r.mac}})
        std::strncpy(to, from->c_str(), 18); // the library writes at most 18 bytes
    *dhcp = r.dhcp ? 1 : 0;
    return 0;
}

inline int32_t ZARFEL_CALL getModuleAdapter(int32_t, char *adapter)
{
    adapter[0] = '\0';
    return 0;
}

inline zclient::Exports exports(std::vector<int32_t> scripted = {})
{
    requests.clear();
    answers = std::move(scripted);
    zclient::Exports x;
    x.configModule = &configModule;
    x.getState = &getState;
    x.broadcastStart = &broadcastStart;
    x.broadcastStop = &broadcastStop;
    x.getCount = &getCount;
    x.getModuleInfo = &getModuleInfo;
    x.getModuleAdapter = &getModuleAdapter;
    return x;
}

} // namespace fake
