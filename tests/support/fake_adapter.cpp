/*
 * fake_adapter.cpp - the scriptable adapter of the unit tests; it provides
 * the two entry points the driver calls.
 */
#include "fake_adapter.h"

#include <cstdio>
#include <cstring>
#include <deque>

namespace {

std::vector<RecordedCommand> Recorded;
std::deque<FakeReply> Replies;
std::function<FakeReply(const RecordedCommand &)> Responder;
bool SensePending = false;
FakeReply PendingSense;
int Attaches = 0;
AttachRecord Attached = {0, 0, 0, 0};

constexpr uint8_t kRequestSense = 0x03;

} // namespace

namespace fake {

void Reset()
{
    Recorded.clear();
    Replies.clear();
    Responder = nullptr;
    SensePending = false;
    Attaches = 0;
    Attached = {0, 0, 0, 0};
}

void Queue(const FakeReply &reply)
{
    Replies.push_back(reply);
}

void Queue(uint32_t status, std::vector<uint8_t> data)
{
    FakeReply reply;
    reply.Status = status;
    reply.Data = std::move(data);
    Replies.push_back(reply);
}

void SetResponder(std::function<FakeReply(const RecordedCommand &)> responder)
{
    Responder = std::move(responder);
}

const std::vector<RecordedCommand> &Commands()
{
    return Recorded;
}

std::vector<RecordedCommand> CommandsWithoutSense()
{
    std::vector<RecordedCommand> commands;
    for (const RecordedCommand &command : Recorded)
        if (command.Opcode() != kRequestSense)
            commands.push_back(command);
    return commands;
}

int AttachCalls()
{
    return Attaches;
}

AttachRecord LastAttach()
{
    return Attached;
}

std::vector<uint8_t> Sense(uint8_t asc, uint8_t ascq, uint32_t information)
{
    std::vector<uint8_t> sense(14, 0);
    sense[0] = 0x70;
    sense[8] = static_cast<uint8_t>(information >> 24);
    sense[9] = static_cast<uint8_t>(information >> 16);
    sense[10] = static_cast<uint8_t>(information >> 8);
    sense[11] = static_cast<uint8_t>(information);
    sense[12] = asc;
    sense[13] = ascq;
    return sense;
}

FakeReply CheckCondition(uint8_t asc, uint8_t ascq, uint32_t information)
{
    FakeReply reply;
    reply.Status = BUSLNK_CHECK_CONDITION;
    reply.Sense = Sense(asc, ascq, information);
    return reply;
}

std::string Hex(const std::vector<uint8_t> &bytes)
{
    std::string text;
    char byte[4];
    for (uint8_t b : bytes) {
        std::snprintf(byte, sizeof byte, "%02X ", b);
        text += byte;
    }
    if (!text.empty())
        text.pop_back();
    return text;
}

std::vector<std::string> Trace(const std::vector<RecordedCommand> &commands)
{
    std::vector<std::string> trace;
    char text[16];
    for (const RecordedCommand &c : commands) {
        if (c.Opcode() == 0x28 || c.Opcode() == 0x2A)
            std::snprintf(text, sizeof text, "%02X:%02X", c.Opcode(), c.Cdb[2]);
        else
            std::snprintf(text, sizeof text, "%02X", c.Opcode());
        trace.push_back(text);
    }
    return trace;
}

} // namespace fake

extern "C" uint32_t BusLinkExecute(CommandRecord *command, TransferRecord *dataIn,
                                   TransferRecord *dataOut)
{
    RecordedCommand recorded;
    recorded.Cdb.assign(command->lpCdb, command->lpCdb + command->wCdbLength);
    recorded.Timeout = command->wTimeout;
    if (dataIn->dwCount) {
        recorded.Direction = 1;
        recorded.Length = dataIn->dwCount;
    } else if (dataOut->dwCount) {
        recorded.Direction = 2;
        recorded.Length = dataOut->dwCount;
        const uint8_t *out = static_cast<const uint8_t *>(dataOut->lpBuffer);
        recorded.DataOut.assign(out, out + dataOut->dwCount);
    }
    Recorded.push_back(recorded);

    FakeReply reply;
    if (recorded.Opcode() == kRequestSense && SensePending) {
        SensePending = false;
        reply.Status = PendingSense.SenseStatus;
        reply.Data = PendingSense.Sense;
    } else if (!Replies.empty()) {
        reply = Replies.front();
        Replies.pop_front();
    } else if (Responder) {
        reply = Responder(recorded);
    }
    if (reply.Status == BUSLNK_CHECK_CONDITION && recorded.Opcode() != kRequestSense) {
        SensePending = true;
        PendingSense = reply;
    }
    if (dataIn->dwCount && !reply.Data.empty()) {
        size_t count = reply.Data.size() < dataIn->dwCount ? reply.Data.size() : dataIn->dwCount;
        std::memcpy(dataIn->lpBuffer, reply.Data.data(), count);
    }
    return reply.Status;
}

extern "C" uint32_t BusLinkAttach(AttachRecord *attach)
{
    ++Attaches;
    Attached = *attach;
    return 0;
}
