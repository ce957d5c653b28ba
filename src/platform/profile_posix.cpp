/*
 * profile_posix.cpp - reading Windows profile (INI) files on POSIX hosts, as
 * much of GetPrivateProfileString and GetPrivateProfileInt as the driver's
 * settings need: "[section]" headers and "key=value" lines, both matched
 * without regard to case, ";" comment lines, blanks around names and values
 * ignored, one pair of matching quotes around a value removed.
 */
#include "platform.h"

#include <cctype>
#include <cstdio>
#include <cstring>
#include <strings.h>

/* Long enough for any line a settings file holds; longer lines are cut. */
constexpr size_t kLineLength = 1024;

static char *Trim(char *text)
{
    while (*text == ' ' || *text == '\t')
        ++text;
    size_t length = std::strlen(text);
    while (length > 0 && std::isspace(static_cast<unsigned char>(text[length - 1])))
        text[--length] = '\0';
    return text;
}

/* Finds the value of key in section; copies it (trimmed, unquoted) into
 * value. Returns false when the file, the section or the key is missing. */
static bool FindProfileValue(const char *fileName, const char *section, const char *key,
                             char *value, size_t size)
{
    FILE *file = std::fopen(fileName, "r");
    if (!file)
        return false;
    char line[kLineLength];
    bool inSection = false;
    bool found = false;
    while (!found && std::fgets(line, sizeof line, file)) {
        char *text = Trim(line);
        if (*text == '[') {
            char *end = std::strchr(text, ']');
            if (end) {
                *end = '\0';
                inSection = strcasecmp(Trim(text + 1), section) == 0;
            }
            continue;
        }
        if (!inSection || *text == ';')
            continue;
        char *equals = std::strchr(text, '=');
        if (!equals)
            continue;
        *equals = '\0';
        if (strcasecmp(Trim(text), key) != 0)
            continue;
        char *found_value = Trim(equals + 1);
        size_t length = std::strlen(found_value);
        if (length >= 2 && (found_value[0] == '"' || found_value[0] == '\'') &&
            found_value[length - 1] == found_value[0]) {
            found_value[length - 1] = '\0';
            ++found_value;
        }
        std::snprintf(value, size, "%s", found_value);
        found = true;
    }
    std::fclose(file);
    return found;
}

uint32_t ReadProfileString(const char *section, const char *key, const char *defaultValue,
                           char *out, uint32_t size, const char *fileName)
{
    if (size == 0)
        return 0;
    char value[kLineLength];
    const char *source = FindProfileValue(fileName, section, key, value, sizeof value)
                             ? value
                             : (defaultValue ? defaultValue : "");
    size_t length = std::strlen(source);
    if (length > size - 1)
        length = size - 1;
    std::memcpy(out, source, length);
    out[length] = '\0';
    return static_cast<uint32_t>(length);
}

int32_t ReadProfileInt(const char *section, const char *key, int32_t defaultValue,
                       const char *fileName)
{
    char value[kLineLength];
    if (!FindProfileValue(fileName, section, key, value, sizeof value) || value[0] == '\0')
        return defaultValue;
    const char *digit = value;
    bool negative = false;
    if (*digit == '-' || *digit == '+')
        negative = *digit++ == '-';
    uint32_t number = 0;
    for (; *digit >= '0' && *digit <= '9'; ++digit)
        number = number * 10u + static_cast<uint32_t>(*digit - '0');
    return static_cast<int32_t>(negative ? 0u - number : number);
}
