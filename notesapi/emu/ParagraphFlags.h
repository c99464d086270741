// The list kinds and hide tokens of a paragraph definition as DXL names them (`pardef list='...'`,
// `pardef hide='...'`), with the paragraph flags that store each: the import sets them, the
// export recognises them.
#pragma once

#include <notes/notes.h>

#include <string_view>

namespace notesemu {

struct ListKind {
    std::string_view name;
    WORD flags;  // PABFLAG_BULLET or PABFLAG_NUMBEREDLIST
    WORD flags2; // the PABFLAG2_ list bits that tell the kinds of one family apart
};

inline constexpr WORD kListKindBits2 =
    PABFLAG2_CIRCLELIST | PABFLAG2_SQUARELIST | PABFLAG2_CHECKEDLIST | PABFLAG2_UNCHECKEDLIST;

inline constexpr ListKind kListKinds[] = {
    {"bullet", PABFLAG_BULLET, 0},
    {"circle", PABFLAG_BULLET, PABFLAG2_CIRCLELIST},
    {"square", PABFLAG_BULLET, PABFLAG2_SQUARELIST},
    {"check", PABFLAG_BULLET, PABFLAG2_CHECKEDLIST},
    {"uncheck", PABFLAG_BULLET, PABFLAG2_UNCHECKEDLIST},
    {"number", PABFLAG_NUMBEREDLIST, 0},
    {"romanupper", PABFLAG_NUMBEREDLIST, PABFLAG2_CHECKEDLIST | PABFLAG2_CIRCLELIST},
    {"romanlower", PABFLAG_NUMBEREDLIST, PABFLAG2_CHECKEDLIST | PABFLAG2_SQUARELIST},
    {"alphaupper", PABFLAG_NUMBEREDLIST, PABFLAG2_SQUARELIST | PABFLAG2_CIRCLELIST},
    {"alphalower", PABFLAG_NUMBEREDLIST, PABFLAG2_CHECKEDLIST | PABFLAG2_SQUARELIST | PABFLAG2_CIRCLELIST},
};

struct HideToken {
    std::string_view name;
    WORD flags;  // PABFLAG_HIDE_ bits
    WORD flags2; // PABFLAG2_HIDE_ bits
};

inline constexpr HideToken kHideTokens[] = {
    {"read", PABFLAG_HIDE_RO, 0},     {"edit", PABFLAG_HIDE_RW, 0},
    {"print", PABFLAG_HIDE_PR, 0},    {"copy", PABFLAG_HIDE_CO, 0},
    {"preview", PABFLAG_HIDE_PV, 0},  {"previewedit", PABFLAG_HIDE_PVE, 0},
    {"notes", PABFLAG_HIDE_NOTES, 0}, {"web", 0, PABFLAG2_HIDE_WEB},
};

} // namespace notesemu
