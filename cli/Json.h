// The JSON documents the command line prints, and the records its worker processes send home.
// Text that is not valid UTF-8 is written with U+FFFD in place of the bad bytes.
#pragma once

#include "Extraction.h"

#include <quillon/host/Catalogue.h>

#include <nlohmann/json.hpp>

#include <optional>
#include <string>
#include <vector>

namespace tessel::cli {

using Json = nlohmann::ordered_json;

// One line of JSON (no newline), never throwing on bad UTF-8.
std::string dumpJson(const Json &value);

// {"index", "kind", "name", "parent", "children", "time"} of one subfile.
Json subfileJson(const quillon::SubFile &subFile);
// {"database": PATH, "subfiles": [...]}.
Json listJson(const std::string &database, const std::vector<quillon::SubFile> &subFiles);
// {"index": INT, "elements": [{"name", "valid", "value"}...]}.
Json metaJson(int32_t index, const std::vector<quillon::MetaElement> &elements);
// {"index", "kind", "name", "path", "bytes", "status", "error"}, with "database" first when given.
Json outcomeJson(const SubfileOutcome &outcome, const std::optional<std::string> &database);
// The inverse of outcomeJson, for the records of a worker; nullopt for a malformed record.
std::optional<SubfileOutcome> outcomeFromJson(const Json &value);

} // namespace tessel::cli
