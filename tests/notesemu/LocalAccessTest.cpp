// Access to a local database: the access list applies only when the database enforces it
// locally (consistentacl); readers items apply in every case.
#include "DbTestSupport.h"
#include "DxlLoader.h"
#include "Identity.h"
#include "Log.h"

#include <gtest/gtest.h>

namespace notesemu {
namespace {

using namespace test;

// An export shaped as real ones are: -Default- with no access, an entry for somebody else, roles.
std::string exportWithAcl(std::string_view aclAttributes, std::string_view defaultLevel) {
    return std::string("<?xml version='1.0' encoding='utf-8'?>\n"
                       "<database xmlns='http://www.lotus.com/dxl' version='9.0' maintenanceversion='1.0'"
                       " replicaid='C1257F0A00312B44'>\n<acl") +
           std::string(aclAttributes) +
           ">\n<role>[Admin]</role>\n<aclentry name='-Default-' default='true' level='" +
           std::string(defaultLevel) +
           "'/>\n<aclentry name='CN=Ada Writer/O=Example' level='manager' type='person'>"
           "<role>[Admin]</role></aclentry>\n<logentry>changed</logentry></acl>\n"
           "<document form='Memo'><noteinfo noteid='1a2' unid='0F1E2D3C4B5A69788796A5B4C3D2E1F0'"
           " sequence='1'/><item name='Subject'><text>hello</text></item></document>\n"
           "<document form='Memo'><noteinfo noteid='1a6' unid='0F1E2D3C4B5A69788796A5B4C3D2E1F1'"
           " sequence='1'/><item name='Subject'><text>restricted</text></item>"
           "<item name='DocReaders' readers='true' names='true'><text>CN=Ada Writer/O=Example</text>"
           "</item></document>\n</database>\n";
}

class LocalAccess : public RuntimeTest {};

struct AccessCase {
    const char *label;
    const char *aclAttributes;
    const char *defaultLevel;
    STATUS expected;
    const char *logged;
};

TEST_F(LocalAccess, TheAccessListAppliesOnlyWhenEnforcedLocally) {
    const AccessCase cases[] = {
        {"unenforced, default no access", "", "noaccess", NOERROR, "not enforced on local copies"},
        {"unenforced, default depositor", "", "depositor", NOERROR, "not enforced on local copies"},
        {"explicitly unenforced", " consistentacl='false'", "noaccess", NOERROR, "not enforced"},
        {"enforced, default no access", " consistentacl='true'", "noaccess", ERR_OPEN_FILE,
         "enforced locally (consistentacl)"},
        {"enforced, default depositor", " consistentacl='true'", "depositor", ERR_OPEN_FILE,
         "has depositor access"},
        {"enforced, default reader", " consistentacl='true'", "reader", NOERROR, "has reader access"},
    };
    for (const AccessCase &c : cases) {
        SCOPED_TRACE(c.label);
        const auto path = dir_.write(std::string(c.label) + ".dxl", exportWithAcl(c.aclAttributes, c.defaultLevel));
        LogCapture log;
        DBHANDLE db = NULLHANDLE;
        EXPECT_EQ(NSFDbOpen(path.string().c_str(), &db), c.expected);
        EXPECT_TRUE(log.contains(c.logged)) << log.text();
        if (db != NULLHANDLE)
            NSFDbClose(db);
    }
}

TEST_F(LocalAccess, ReadersItemsStillHideDocumentsWhenTheListIsNotEnforced) {
    const auto path = dir_.write("unenforced.dxl", exportWithAcl("", "noaccess"));
    const DBHANDLE db = open(path);
    ASSERT_NE(db, NULLHANDLE);
    NoteHandle open(db, 0x1a2);
    EXPECT_EQ(open.status(), NOERROR);
    NoteHandle restricted(db, 0x1a6);
    EXPECT_EQ(restricted.status(), ERR_NOACCESS) << "the anonymous local user is not a reader";
    const auto matches = searchAll(db, NOTE_CLASS_DOCUMENT);
    ASSERT_EQ(matches.size(), 1U);
    EXPECT_EQ(matches[0].id, 0x1a2U);
}

TEST_F(LocalAccess, RolesAndTheEnforcementFlagAreLoaded) {
    LogCapture log;
    const LoadResult loaded = loadDxlText(exportWithAcl(" consistentacl='true'", "reader"), "roles.dxl");
    ASSERT_EQ(loaded.status, NOERROR);
    const Acl &acl = loaded.database->acl;
    EXPECT_TRUE(acl.consistent);
    EXPECT_EQ(acl.roles, std::vector<std::string>{"[Admin]"});
    ASSERT_EQ(acl.entries.size(), 1U);
    EXPECT_EQ(acl.entries[0].roles, std::vector<std::string>{"[Admin]"});
    EXPECT_FALSE(log.contains("<role>")) << "roles are understood, not reported as unknown";
}

} // namespace
} // namespace notesemu
