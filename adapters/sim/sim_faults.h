/*
 * sim_faults.h - faults on demand. The device classifies every command into
 * a kind and asks the fault plan, before it executes the command, whether
 * to answer busy, to end it with a check condition of chosen sense, or to
 * return an adapter status instead; the plan also holds the early end of
 * image data. Rules are written as text so that applications and tests set
 * them alike (README.md lists the syntax):
 *
 *   busy:N[:KIND]                the next N commands (of the kind) answer busy
 *   check:KIND:K[+]:AA/QQ[:KEY]  the K-th command of the kind (with +: and
 *                                every later one) ends with that sense (hex)
 *   status:KIND:K[+]:S           ... answers adapter status S (decimal)
 *   early_end:LINES[+BYTES]      image data ends after so many lines (off: never)
 *   jam:PAGE[:LINES]             feeder page PAGE jams when the host reads past
 *                                LINES lines (default half the page; off: never)
 */
#ifndef SIM_FAULTS_H
#define SIM_FAULTS_H

#include <cstdint>
#include <string>
#include <vector>

enum class SimCommandKind : uint8_t {
    TestUnitReady, RequestSense, Inquiry, SetWindow, ReadImage, ReadGeometry, ReadLamp, SendLamp,
    SendLampControl, ReadParameters, SendShading, SendGamma, SendHalftone, Other,
};
constexpr int kCommandKindCount = static_cast<int>(SimCommandKind::Other) + 1;

/* The kind of a command from its CDB (opcode, data type code, length). */
SimCommandKind ClassifyCommand(const uint8_t *cdb, uint32_t cdbLength);
/* The kind's name in fault rules and the trace: tur, sense, inquiry, window,
 * read, geometry, lampread, lampsend, lampcontrol, params, shading, gamma,
 * halftone, other. */
const char *CommandKindName(SimCommandKind kind);

/* What a fault does to a command. */
enum SimFaultType : uint8_t { kNoFault, kFaultBusy, kFaultCheck, kFaultStatus };

struct SimFaultRule {
    SimFaultType Type = kFaultBusy;
    int Kind = -1;           /* a SimCommandKind, or -1 for every command */
    uint32_t Nth = 1;        /* kFaultCheck, kFaultStatus: fire on this matching command */
    bool Persistent = false; /* ... and on every later one */
    uint32_t Seen = 0;       /* matching commands so far */
    uint32_t Remaining = 0;  /* kFaultBusy: busy answers still to give */
    uint8_t Key = 0, Asc = 0, Ascq = 0;
    uint32_t AdapterStatus = 0;
};

struct SimFaults {
    std::vector<SimFaultRule> Rules;
    bool EarlyEnd = false;
    uint32_t EarlyLines = 0, EarlyBytes = 0;
    uint32_t JamPage = 0;    /* the feeder page number that jams; 0: none */
    uint32_t JamLines = 0;   /* lines read before it jams; 0: half the page */
};

/* What to do with the command at hand. */
struct SimFaultAction {
    SimFaultType Type = kNoFault;
    uint32_t AdapterStatus = 0;
    uint8_t Key = 0, Asc = 0, Ascq = 0;
};

/* Adds one rule; false with the reason when the text is not a rule. */
bool AddFaultRule(SimFaults &faults, const std::string &text, std::string &error);
/* Replaces all rules by a list separated by ';' ("clear" or "" removes all). */
bool SetFaultRules(SimFaults &faults, const std::string &list, std::string &error);
/* Consults and advances the rules for one command of the kind. */
SimFaultAction NextFaultAction(SimFaults &faults, SimCommandKind kind);
/* The sense key that goes with an additional sense code. */
uint8_t SenseKeyFor(uint8_t asc);

#endif
