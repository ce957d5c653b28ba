/*
 * sim_faults.cpp - parsing fault rules and deciding, command by command,
 * which of them fires. A busy answer does not count as a command for the
 * other rules: the host sends the same command again.
 */
#include "sim_faults.h"

#include <cerrno>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <strings.h>

static const char *const KindNames[kCommandKindCount] = {
    "tur",      "sense",       "inquiry", "window",  "read",  "geometry", "lampread",
    "lampsend", "lampcontrol", "params",  "shading", "gamma", "halftone", "other",
};

SimCommandKind ClassifyCommand(const uint8_t *cdb, uint32_t cdbLength)
{
    if (cdbLength == 0)
        return SimCommandKind::Other;
    switch (cdb[0]) {
    case 0x00: return SimCommandKind::TestUnitReady;
    case 0x03: return SimCommandKind::RequestSense;
    case 0x12: return SimCommandKind::Inquiry;
    case 0x24: return SimCommandKind::SetWindow;
    default: break;
    }
    if (cdbLength < 10 || (cdb[0] != 0x28 && cdb[0] != 0x2A))
        return SimCommandKind::Other;
    bool read = cdb[0] == 0x28;
    switch (cdb[2]) {
    case 0x00: return read ? SimCommandKind::ReadImage : SimCommandKind::Other;
    case 0x01: return read ? SimCommandKind::Other : SimCommandKind::SendShading;
    case 0x02: return read ? SimCommandKind::Other : SimCommandKind::SendHalftone;
    case 0x03: return read ? SimCommandKind::Other : SimCommandKind::SendGamma;
    case 0x80: return read ? SimCommandKind::ReadGeometry : SimCommandKind::Other;
    case 0x81:
        if (read)
            return SimCommandKind::ReadLamp;
        return cdb[6] == 0 && cdb[7] == 0 && cdb[8] == 1 ? SimCommandKind::SendLampControl
                                                         : SimCommandKind::SendLamp;
    case 0x82: return read ? SimCommandKind::ReadParameters : SimCommandKind::Other;
    default: return SimCommandKind::Other;
    }
}

const char *CommandKindName(SimCommandKind kind)
{
    return KindNames[static_cast<int>(kind)];
}

uint8_t SenseKeyFor(uint8_t asc)
{
    switch (asc) {
    case 0x00: return 0x00;                         /* no sense */
    case 0x3A: return 0x02;                         /* not ready */
    case 0x03: case 0x40: case 0x53: case 0x54:
    case 0x60: return 0x04;                         /* hardware error */
    case 0x49: case 0x4A: case 0x4B: return 0x0B;   /* aborted command */
    case 0x80: return 0x09;                         /* vendor specific */
    default: return 0x05;                           /* illegal request */
    }
}

namespace {

std::vector<std::string> Split(const std::string &text, char separator)
{
    std::vector<std::string> parts;
    size_t start = 0;
    for (;;) {
        size_t end = text.find(separator, start);
        parts.push_back(text.substr(start, end == std::string::npos ? std::string::npos : end - start));
        if (end == std::string::npos)
            return parts;
        start = end + 1;
    }
}

bool ParseNumber(const std::string &text, int base, uint32_t max, uint32_t &value)
{
    if (text.empty())
        return false;
    errno = 0;
    char *end = nullptr;
    unsigned long v = std::strtoul(text.c_str(), &end, base);
    if (errno != 0 || *end != 0 || text[0] == '-' || v > max)
        return false;
    value = static_cast<uint32_t>(v);
    return true;
}

bool ParseKind(const std::string &text, int &kind)
{
    if (strcasecmp(text.c_str(), "any") == 0) {
        kind = -1;
        return true;
    }
    for (int k = 0; k < kCommandKindCount; ++k)
        if (strcasecmp(text.c_str(), KindNames[k]) == 0) {
            kind = k;
            return true;
        }
    return false;
}

/* "K" or "K+": the command to fire on, and whether it keeps firing. */
bool ParseNth(std::string text, SimFaultRule &rule)
{
    rule.Persistent = !text.empty() && text.back() == '+';
    if (rule.Persistent)
        text.pop_back();
    return ParseNumber(text, 10, UINT32_MAX, rule.Nth) && rule.Nth > 0;
}

} // namespace

bool AddFaultRule(SimFaults &faults, const std::string &text, std::string &error)
{
    std::vector<std::string> f = Split(text, ':');
    SimFaultRule rule;
    const std::string &type = f[0];
    if (type == "busy" && (f.size() == 2 || f.size() == 3)) {
        rule.Type = kFaultBusy;
        if (ParseNumber(f[1], 10, UINT32_MAX, rule.Remaining) && (f.size() == 2 || ParseKind(f[2], rule.Kind))) {
            if (rule.Remaining > 0)
                faults.Rules.push_back(rule);
            return true;
        }
    } else if (type == "check" && (f.size() == 4 || f.size() == 5)) {
        rule.Type = kFaultCheck;
        std::vector<std::string> sense = Split(f[3], '/');
        uint32_t asc = 0, ascq = 0, key = 0;
        if (ParseKind(f[1], rule.Kind) && ParseNth(f[2], rule) && sense.size() == 2 &&
            ParseNumber(sense[0], 16, 255, asc) && ParseNumber(sense[1], 16, 255, ascq) &&
            (f.size() == 4 || ParseNumber(f[4], 16, 15, key))) {
            rule.Asc = static_cast<uint8_t>(asc);
            rule.Ascq = static_cast<uint8_t>(ascq);
            rule.Key = static_cast<uint8_t>(f.size() == 5 ? key : SenseKeyFor(rule.Asc));
            faults.Rules.push_back(rule);
            return true;
        }
    } else if (type == "status" && f.size() == 4) {
        rule.Type = kFaultStatus;
        if (ParseKind(f[1], rule.Kind) && ParseNth(f[2], rule) && ParseNumber(f[3], 10, UINT32_MAX, rule.AdapterStatus) &&
            rule.AdapterStatus != 0) {
            faults.Rules.push_back(rule);
            return true;
        }
    } else if (type == "early_end" && f.size() == 2) {
        if (f[1] == "off") {
            faults.EarlyEnd = false;
            return true;
        }
        std::vector<std::string> amount = Split(f[1], '+');
        uint32_t lines = 0, bytes = 0;
        if (amount.size() <= 2 && ParseNumber(amount[0], 10, UINT32_MAX, lines) &&
            (amount.size() == 1 || ParseNumber(amount[1], 10, UINT32_MAX, bytes))) {
            faults.EarlyEnd = true;
            faults.EarlyLines = lines;
            faults.EarlyBytes = bytes;
            return true;
        }
    } else if (type == "jam" && (f.size() == 2 || f.size() == 3)) {
        if (f[1] == "off" && f.size() == 2) {
            faults.JamPage = 0;
            return true;
        }
        uint32_t page = 0, lines = 0;
        if (ParseNumber(f[1], 10, UINT32_MAX, page) && page > 0 &&
            (f.size() == 2 || (ParseNumber(f[2], 10, UINT32_MAX, lines) && lines > 0))) {
            faults.JamPage = page;
            faults.JamLines = lines;
            return true;
        }
    }
    error = "not a fault rule: " + text;
    return false;
}

bool SetFaultRules(SimFaults &faults, const std::string &list, std::string &error)
{
    SimFaults fresh;
    if (list != "clear" && !list.empty())
        for (const std::string &text : Split(list, ';'))
            if (!text.empty() && !AddFaultRule(fresh, text, error))
                return false;
    faults = fresh;
    return true;
}

SimFaultAction NextFaultAction(SimFaults &faults, SimCommandKind kind)
{
    int k = static_cast<int>(kind);
    SimFaultAction action;
    for (size_t i = 0; i < faults.Rules.size(); ++i) {
        SimFaultRule &rule = faults.Rules[i];
        if (rule.Type != kFaultBusy || (rule.Kind != -1 && rule.Kind != k))
            continue;
        action.Type = kFaultBusy;
        if (--rule.Remaining == 0)
            faults.Rules.erase(faults.Rules.begin() + static_cast<std::ptrdiff_t>(i));
        return action;
    }
    for (size_t i = 0; i < faults.Rules.size();) {
        SimFaultRule &rule = faults.Rules[i];
        if (rule.Type == kFaultBusy || (rule.Kind != -1 && rule.Kind != k)) {
            ++i;
            continue;
        }
        ++rule.Seen;
        bool fires = rule.Seen == rule.Nth || (rule.Persistent && rule.Seen > rule.Nth);
        if (fires && action.Type == kNoFault) {
            action.Type = rule.Type;
            action.AdapterStatus = rule.AdapterStatus;
            action.Key = rule.Key;
            action.Asc = rule.Asc;
            action.Ascq = rule.Ascq;
        }
        if (fires && !rule.Persistent)
            faults.Rules.erase(faults.Rules.begin() + static_cast<std::ptrdiff_t>(i));
        else
            ++i;
    }
    return action;
}
