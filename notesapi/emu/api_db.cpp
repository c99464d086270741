// Databases, searches and folders: the C entry points.
#include "DatabaseCache.h"
#include "DxlLoader.h"
#include "IdTable.h"
#include "Identity.h"
#include "Log.h"
#include "OpenDatabase.h"
#include "Platform.h"
#include "Runtime.h"
#include "Search.h"

#include <notes/notes.h>

#include <filesystem>

using notesemu::HandleKind;
using notesemu::OpenDatabase;
using notesemu::Runtime;

namespace {

// The release the emulated runtime reports for its databases: the DXL dialect it reads is the
// one of release 9.0.1 (domino_9_0_1.dtd).
constexpr DWORD kMajorVersion = 9;
constexpr DWORD kMinorVersion = 0;
constexpr DWORD kMaintenanceRelease = 1;

std::shared_ptr<OpenDatabase> databaseOf(DBHANDLE handle) {
    return Runtime::instance().handles().objectAs<OpenDatabase>(HandleKind::Database, handle);
}

// Resolves a database path: "server!!file" names a file on a server (only the local one, with an
// empty server part, is reachable); a relative path that does not exist is looked up in the data
// directory (notes.ini Directory).
STATUS resolvePath(const char *pathName, std::filesystem::path &path) {
    std::string_view text(pathName);
    if (const std::size_t bang = text.find("!!"); bang != std::string_view::npos) {
        if (bang != 0) {
            notesemu::logf("NSFDbOpen(%s): the emulated runtime opens local databases only", pathName);
            return ERR_SERVER_NOT_RESPONDING;
        }
        text.remove_prefix(2);
    }
    if (!notesemu::pathFromText(text, path)) {
        notesemu::logf("NSFDbOpen(%s): the path is neither in the code page nor in UTF-8", pathName);
        return ERR_NOEXIST;
    }
    std::error_code error;
    if (path.is_relative() && !std::filesystem::exists(path, error)) {
        std::filesystem::path directory;
        if (const auto value = Runtime::instance().environmentValue("Directory");
            value && !value->empty() && notesemu::pathFromText(*value, directory))
            path = directory / path;
    }
    return NOERROR;
}

STATUS openDatabase(const char *pathName, DBHANDLE *rethDB) {
    if (rethDB == nullptr || pathName == nullptr)
        return ERR_BAD_PARAM;
    *rethDB = NULLHANDLE;
    Runtime &runtime = Runtime::instance();
    if (!runtime.initialised()) {
        notesemu::logLine("NSFDbOpen called before NotesInitExtended");
        return ERR_NOTES_NOT_INITIALIZED;
    }
    std::filesystem::path path;
    if (const STATUS status = resolvePath(pathName, path); status != NOERROR)
        return status;
    // Handles of an unchanged file share one load; nothing of a loaded database changes.
    notesemu::DatabaseCache::Result loaded =
        notesemu::DatabaseCache::instance().open(path, notesemu::defaultLoadOptions());
    if (loaded.status != NOERROR)
        return loaded.status;
    std::string user = notesemu::currentUser();
    const notesemu::Database &database = *loaded.database;
    const notesemu::AccessLevel level = notesemu::localAccessLevel(database, user, pathName);
    if (level <= notesemu::AccessLevel::Depositor) {
        notesemu::logf("NSFDbOpen(%s): %s has %s access and may not open the database", pathName,
                       user.c_str(), std::string(notesemu::accessLevelName(level)).c_str());
        return ERR_OPEN_FILE;
    }
    auto open = std::make_shared<OpenDatabase>(std::move(loaded.database), std::move(user), level);
    return runtime.handles().insertObject(HandleKind::Database, std::move(open), *rethDB);
}

} // namespace

extern "C" {

NOTESAPI STATUS LNPUBLIC NSFDbOpen(const char *PathName, DBHANDLE *rethDB) {
    return openDatabase(PathName, rethDB);
}

NOTESAPI STATUS LNPUBLIC NSFDbOpenExtended(const char *PathName, WORD Options, DHANDLE hNames,
                                           TIMEDATE *ModifiedTime, DBHANDLE *rethDB,
                                           TIMEDATE *retDataModified, TIMEDATE *retNonDataModified) {
    (void)Options; // scan locks, fixup and logging options concern real database files only
    if (hNames != NULLHANDLE) {
        notesemu::logLine(
            "NSFDbOpenExtended: opening under a names list is not supported by the emulated runtime");
        return ERR_NOT_IMPLEMENTED;
    }
    if (const STATUS status = openDatabase(PathName, rethDB); status != NOERROR)
        return status;
    const auto open = databaseOf(*rethDB);
    TIMEDATE data{}, nonData{};
    for (const notesemu::Note &note : open->database()->notes) {
        TIMEDATE &latest = (note.noteClass & NOTE_CLASS_DOCUMENT) != 0 ? data : nonData;
        const DWORD day = note.modified.Innards[1] & 0x00FFFFFF, latestDay = latest.Innards[1] & 0x00FFFFFF;
        if (day > latestDay || (day == latestDay && note.modified.Innards[0] > latest.Innards[0]))
            latest = note.modified;
    }
    if (retDataModified != nullptr)
        *retDataModified = data;
    if (retNonDataModified != nullptr)
        *retNonDataModified = nonData;
    if (ModifiedTime != nullptr) {
        const auto after = [&](const TIMEDATE &t) {
            const DWORD day = t.Innards[1] & 0x00FFFFFF, since = ModifiedTime->Innards[1] & 0x00FFFFFF;
            return day > since || (day == since && t.Innards[0] > ModifiedTime->Innards[0]);
        };
        if (!after(data) && !after(nonData)) {
            Runtime::instance().handles().freeObject(HandleKind::Database, *rethDB);
            *rethDB = NULLHANDLE;
            return ERR_NO_MODIFIED_NOTES;
        }
    }
    return NOERROR;
}

NOTESAPI STATUS LNPUBLIC NSFDbClose(DBHANDLE hDB) {
    Runtime &runtime = Runtime::instance();
    if (!runtime.initialised())
        return ERR_NOTES_NOT_INITIALIZED;
    return runtime.handles().freeObject(HandleKind::Database, hDB);
}

NOTESAPI STATUS LNPUBLIC NSFDbGetMajMinVersion(DBHANDLE hDb, BUILDVERSION *retVersion) {
    if (retVersion == nullptr)
        return ERR_BAD_PARAM;
    if (!Runtime::instance().initialised())
        return ERR_NOTES_NOT_INITIALIZED;
    if (!databaseOf(hDb))
        return ERR_BAD_PARAM;
    *retVersion = BUILDVERSION{};
    retVersion->MajorVersion = kMajorVersion;
    retVersion->MinorVersion = kMinorVersion;
    retVersion->QMRNumber = kMaintenanceRelease;
    return NOERROR;
}

NOTESAPI STATUS LNPUBLIC NSFSearchExt(DBHANDLE hDB, FORMULAHANDLE hFormula, char *ViewTitle,
                                      DWORD SearchFlags, DWORD SearchFlags2, WORD NoteClassMask,
                                      TIMEDATE *Since, NSFSEARCHPROC EnumRoutine, void *EnumRoutineParameter,
                                      TIMEDATE *retUntil) {
    (void)SearchFlags2; // bucket sizes of large summaries change nothing here
    if (EnumRoutine == nullptr)
        return ERR_BAD_PARAM;
    if (!Runtime::instance().initialised())
        return ERR_NOTES_NOT_INITIALIZED;
    const auto open = databaseOf(hDB);
    if (!open)
        return ERR_BAD_PARAM;
    if (hFormula != NULLHANDLE || (ViewTitle != nullptr && *ViewTitle != '\0')) {
        notesemu::logLine(
            "NSFSearch: selection formulas and views are not supported by the emulated runtime");
        return ERR_NOT_IMPLEMENTED;
    }
    if ((SearchFlags & SEARCH_FILETYPE) != 0) {
        notesemu::logLine("NSFSearch: directory searches are not supported by the emulated runtime");
        return ERR_NOT_IMPLEMENTED;
    }
    return notesemu::runSearch(*open, SearchFlags, NoteClassMask, Since, EnumRoutine, EnumRoutineParameter,
                               retUntil);
}

NOTESAPI STATUS LNPUBLIC NSFSearch(DBHANDLE hDB, FORMULAHANDLE hFormula, char *ViewTitle, WORD SearchFlags,
                                   WORD NoteClassMask, TIMEDATE *Since, NSFSEARCHPROC EnumRoutine,
                                   void *EnumRoutineParameter, TIMEDATE *retUntil) {
    return NSFSearchExt(hDB, hFormula, ViewTitle, SearchFlags, 0, NoteClassMask, Since, EnumRoutine,
                        EnumRoutineParameter, retUntil);
}

NOTESAPI STATUS LNPUBLIC NSFFolderGetIDTable(DHANDLE hViewDB, DHANDLE hDataDB, NOTEID ViewNoteID, DWORD Flags,
                                             DHANDLE *hTable) {
    (void)Flags; // DB_GETIDTABLE_VALIDATE: the table is always built from the documents themselves
    if (hTable == nullptr)
        return ERR_BAD_PARAM;
    *hTable = NULLHANDLE;
    Runtime &runtime = Runtime::instance();
    if (!runtime.initialised())
        return ERR_NOTES_NOT_INITIALIZED;
    const auto viewDb = databaseOf(hViewDB);
    const auto dataDb = databaseOf(hDataDB);
    if (!viewDb || !dataDb)
        return ERR_BAD_PARAM;
    const notesemu::Database &views = *viewDb->database();
    const notesemu::Note *view = views.findNote(ViewNoteID);
    if (view == nullptr || (view->noteClass & NOTE_CLASS_VIEW) == 0) {
        notesemu::logf("NSFFolderGetIDTable: note 0x%X is not a view", ViewNoteID);
        return ERR_INVALID_NOTE;
    }
    const notesemu::Item *flags = notesemu::findItem(views.itemsOf(*view), "$Flags");
    bool folder = false;
    if (flags != nullptr) {
        for (const std::string_view entry : notesemu::textEntries(flags->value))
            folder = folder || entry.find('F') != std::string_view::npos;
    }
    if (!folder)
        return ERR_NOTE_NOT_FOLDER;
    const std::string unid = notesemu::unidText(UNIVERSALNOTEID{view->oid.File, view->oid.Note});
    auto table = std::make_shared<notesemu::IdTable>();
    const notesemu::Database &data = *dataDb->database();
    for (const notesemu::Note &note : data.notes) {
        const notesemu::Item *refs = notesemu::findItem(data.itemsOf(note), "$FolderRefs");
        if (refs == nullptr || !dataDb->canRead(note))
            continue;
        for (const std::string_view entry : notesemu::textEntries(refs->value)) {
            if (notesemu::sameItemName(entry, unid)) {
                table->insert(note.id);
                break;
            }
        }
    }
    return runtime.handles().insertObject(HandleKind::IdTable, std::move(table), *hTable);
}

} // extern "C"
