/*
 * fake_adapter.h - a scriptable stand-in for the adapter library in the
 * driver's unit tests. It records every command (CDB, timeout, direction,
 * data out) and answers from a queue of replies, then from a responder.
 * A check condition reply carries the sense that the driver's following
 * REQUEST SENSE receives.
 */
#ifndef SCANDRV_FAKE_ADAPTER_H
#define SCANDRV_FAKE_ADAPTER_H

#include "buslnk32.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

struct RecordedCommand {
    std::vector<uint8_t> Cdb;
    uint16_t Timeout = 0;
    int Direction = 0;  /* 0 none, 1 in, 2 out */
    uint32_t Length = 0; /* the count of the direction used */
    std::vector<uint8_t> DataOut;
    uint8_t Opcode() const { return Cdb.empty() ? 0xFF : Cdb[0]; }
};

struct FakeReply {
    uint32_t Status = BUSLNK_GOOD;
    std::vector<uint8_t> Data;  /* copied into the data-in buffer, at most its count */
    std::vector<uint8_t> Sense; /* with status 1: the data of the next REQUEST SENSE */
    uint32_t SenseStatus = BUSLNK_GOOD; /* the status that REQUEST SENSE ends with */
};

namespace fake {

/* Forgets commands, queued replies, pending sense and the responder, and
 * records data out in full again. */
void Reset();
/* Records at most this many bytes of each command's data out (the rest is
 * dropped from the record, not from the command). A fuzzer that runs
 * millions of scans keeps the window list and skips copying gamma tables. */
void SetDataOutLimit(size_t bytes);
/* Replies in order of arrival; REQUEST SENSE for a pending check condition
 * is answered from the sense and does not take a queued reply. */
void Queue(const FakeReply &reply);
void Queue(uint32_t status, std::vector<uint8_t> data = {});
/* Answers commands once the queue is empty (default: good, no data). */
void SetResponder(std::function<FakeReply(const RecordedCommand &)> responder);

const std::vector<RecordedCommand> &Commands();
std::vector<RecordedCommand> CommandsWithoutSense(); /* no REQUEST SENSEs */
int AttachCalls();
AttachRecord LastAttach();

/* 14 bytes of sense data with the given ASC, ASCQ and information bytes 8-11. */
std::vector<uint8_t> Sense(uint8_t asc, uint8_t ascq, uint32_t information = 0);
FakeReply CheckCondition(uint8_t asc, uint8_t ascq, uint32_t information = 0);

std::string Hex(const std::vector<uint8_t> &bytes);

/* Each command as "op:type" for READ and SEND (e.g. "28:81") or "op". */
std::vector<std::string> Trace(const std::vector<RecordedCommand> &commands = Commands());

} // namespace fake

#endif
