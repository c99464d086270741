// TIMEDATE to text as ConvertTIMEDATEToText publishes it: US order ("MM/DD/YYYY HH:MM:SS AM")
// unless international settings say otherwise, with the parts and zone display a TFMT asks for.
//
// Zones: the stored zone of a TIMEDATE is its standard offset and whether that zone observes
// daylight saving. TZFMT_NEVER shows the instant in the process's local zone (TZ) without zone
// text. TZFMT_ALWAYS shows it in the stored zone, followed by the zone's name. TZFMT_SOMETIMES
// behaves as NEVER when the stored zone is the local one (same standard offset and daylight
// observance) and as ALWAYS otherwise. Whether daylight saving applies at an instant is taken
// from the local zone's rules when the stored zone is the local one; for other zones that
// observe it, North American rules are applied west of Greenwich and European rules at and east
// of it (the stored value says nothing more). Zone names: GMT/GDT, EST/EDT, CST/CDT, MST/MDT,
// PST/PDT, AST/ADT, YST/YDT, HST/HDT, CET/CEDT and EET/EEDT for their offsets, otherwise "ZE" or
// "ZW" with the hours (and ":MM" for a part-hour offset), e.g. "ZE5:30".
//
// Special values: a date-only value (ALLDAY time) shows its date and a time-only value (ANYDAY
// date) its wall-clock time, each without zone conversion, whatever parts the TFMT asks for; the
// wildcard (both) and the cleared value (all zero) give empty text. Invalid values (time of day
// past midnight, a day outside the years 1 to 9999, a zone beyond 14 hours) give ERR_TDO_CONV.
#pragma once

#include <notes/notes.h>

#include <string>

namespace notesemu {

// intl and format may be null (the emulated defaults: US order, 4-digit years, 12-hour clock;
// date and time without zone). Returns NOERROR, ERR_TDO_CONV, ERR_TFMT (a format byte out of
// range) or ERR_IFMT (an INTLFORMAT whose Length is not its size).
STATUS timeDateToText(const INTLFORMAT *intl, const TFMT *format, const TIMEDATE &value, std::string &text);

} // namespace notesemu
