/*
 * command_template.h - a ready-made command: its CDB bytes directly followed
 * by the CommandRecord that points to them. Builders patch the variable bytes
 * in place before each use; the rest keeps its template value.
 */
#ifndef SCANDRV_COMMAND_TEMPLATE_H
#define SCANDRV_COMMAND_TEMPLATE_H

#include "buslnk32.h"

#include <cstdint>

#pragma pack(push, 1)
template <int CdbLength> struct CommandTemplate {
    uint8_t Cdb[CdbLength];
    CommandRecord Record;
};
#pragma pack(pop)

/* Defines a template from its CDB bytes and timeout. The record points at
 * the template's own CDB, so templates are globals that never move. */
#define COMMAND_TEMPLATE(name, length, timeout, ...)                                      \
    CommandTemplate<length> name = {{__VA_ARGS__}, {timeout, length, name.Cdb}}

#endif
