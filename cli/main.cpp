// tessel: the command line over the Quillon host and the tessel plug-in. It loads the plug-in as
// any filtering host does and lists, describes and extracts what a Notes database holds.
#include "Commands.h"
#include "Interrupt.h"
#include "Options.h"
#include "Platform.h"

#include <CLI/CLI.hpp>

#include <string>
#include <vector>

using namespace tessel::cli;

namespace {

// A command's exit status, unless a signal stopped it: everything is closed by now, and the
// program ends by that signal.
int finish(ExitCode code) {
    endIfInterrupted();
    return toInt(code);
}

} // namespace

int main(int argc, char **argv) {
    prepareProcess();
    installInterruptHandlers();
    // From here on every argument is UTF-8, on Windows too.
    std::vector<std::string> arguments = utf8Arguments(argc, argv);
    std::vector<char *> pointers;
    for (std::string &argument : arguments)
        pointers.push_back(argument.data());

    CLI::App app{"tessel: read Lotus Notes databases through the tessel plug-in"};
    app.require_subcommand(1);
    app.set_version_flag("--version", std::string("tessel ") + TESSEL_VERSION);
    app.footer("Exit status: 0 everything done, 1 some subfiles failed, 2 usage error, 3 the database could "
               "not be opened.\nPasswords: --password-file FILE or $TESSEL_CLI_PASSWORD keep them off the "
               "command line.");

    OpenCommand open;
    CLI::App *openApp = app.add_subcommand("open", "Open a database through the plug-in and report the status");
    openApp->add_option("database", open.database, "The database (a DXL file)")->required();
    addCommonOptions(openApp, open.options, false);

    ListCommand list;
    CLI::App *listApp = app.add_subcommand(
        "list", "List the subfiles: index, kind, parent, name, time (UTC); then the count");
    listApp->add_option("database", list.database, "The database (a DXL file)")->required();
    listApp->add_flag("--json", list.json, "One JSON document");
    addCommonOptions(listApp, list.options, true);

    MetaCommand meta;
    CLI::App *metaApp =
        app.add_subcommand("meta", "A note's fields as name = value: the mail fields, the named ones, or all");
    metaApp->add_option("database", meta.database, "The database (a DXL file)")->required();
    metaApp->add_option("index", meta.index, "The subfile's index (see list)")->required();
    metaApp->add_option("names", meta.names, "Field names ($$$QL_NoteID, $$$QL_Folders ... included)");
    metaApp->add_flag("--all", meta.all, "Every item of the note");
    metaApp->add_flag("--json", meta.json, "One JSON document");
    addCommonOptions(metaApp, meta.options, true);

    CatCommand cat;
    CLI::App *catApp = app.add_subcommand("cat", "Extract one subfile to standard output");
    catApp->add_option("database", cat.database, "The database (a DXL file)")->required();
    catApp->add_option("index", cat.index, "The subfile's index (see list)")->required();
    addCommonOptions(catApp, cat.options, true);

    ExtractCommand extract;
    CLI::App *extractApp = app.add_subcommand("extract", "Extract every subfile (or those chosen) into a folder");
    extractApp->add_option("databases", extract.databases, "The databases (DXL files)")->required();
    extractApp->add_option("-o,--output", extract.outputDir, "The output folder (it must exist)")
        ->required()
        ->type_name("DIR");
    extractApp->add_option("--index", extract.indexes, "Extract this subfile only (repeatable; one database)")
        ->type_name("N");
    extractApp->add_flag("--overwrite", extract.overwrite, "Replace files that exist");
    extractApp->add_flag("--json", extract.json, "One JSON object per subfile, then the summary");
    extractApp->add_flag("-q,--quiet", extract.quiet, "No progress bar");
    extractApp->add_option("-j,--jobs", extract.jobs, "Worker processes for several databases (default: CPUs)")
        ->check(CLI::Range(1u, 256u));
    addCommonOptions(extractApp, extract.options, true);

    try {
        app.parse(static_cast<int>(pointers.size()), pointers.data());
    } catch (const CLI::ParseError &error) {
        const int code = app.exit(error);
        return code == 0 ? 0 : toInt(ExitCode::Usage);
    }

    if (openApp->parsed()) {
        collectCredentials(openApp, open.options);
        return finish(runOpen(open));
    }
    if (listApp->parsed()) {
        collectCredentials(listApp, list.options);
        return finish(runList(list));
    }
    if (metaApp->parsed()) {
        collectCredentials(metaApp, meta.options);
        return finish(runMeta(meta));
    }
    if (catApp->parsed()) {
        collectCredentials(catApp, cat.options);
        return finish(runCat(cat));
    }
    if (extractApp->parsed()) {
        collectCredentials(extractApp, extract.options);
        return finish(runExtract(extract));
    }
    return toInt(ExitCode::Usage);
}
