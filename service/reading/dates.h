#pragma once

#include <optional>

#include <QString>

#include "service/reading/record.h"

// A date as a registry writes it (ISO 8601 and RFC 3339, yyyymmdd, dd.mm.yyyy, month names,
// ordinals; Z, offsets and zone names); zoned by the registry's documented zone when it names
// none. Invalid when it holds no date with a day.
// monthBeforeDay: the registry writes nn/nn/yyyy month first.
RecordDate parseWhoisDate(const QString& text, std::optional<int> registryOffsetMinutes = {},
    bool monthBeforeDay = false);
// An RDAP event date (RFC 3339), which is UTC when it names no zone.
RecordDate parseRdapDate(const QString& text);
