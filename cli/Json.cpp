#include "Json.h"

#include "TextOutput.h"

namespace tessel::cli {
namespace {

Json optionalString(const std::optional<std::string> &value) { return value ? Json(*value) : Json(nullptr); }

} // namespace

std::string dumpJson(const Json &value) { return value.dump(-1, ' ', false, Json::error_handler_t::replace); }

Json subfileJson(const quillon::SubFile &subFile) {
    Json json;
    json["index"] = subFile.index;
    json["kind"] = quillon::Catalogue::kindName(subFile.kind);
    json["name"] = optionalString(subFile.name);
    json["parent"] = subFile.parent;
    json["children"] = subFile.children;
    json["time"] = optionalString(isoTime(subFile.time));
    return json;
}

Json listJson(const std::string &database, const std::vector<quillon::SubFile> &subFiles) {
    Json json;
    json["database"] = database;
    json["subfiles"] = Json::array();
    for (const auto &subFile : subFiles)
        json["subfiles"].push_back(subfileJson(subFile));
    return json;
}

Json metaJson(int32_t index, const std::vector<quillon::MetaElement> &elements) {
    Json json;
    json["index"] = index;
    json["elements"] = Json::array();
    for (const auto &element : elements) {
        Json item;
        item["name"] = optionalString(element.name);
        item["valid"] = element.value.has_value();
        item["value"] = optionalString(element.value);
        json["elements"].push_back(std::move(item));
    }
    return json;
}

Json outcomeJson(const SubfileOutcome &outcome, const std::optional<std::string> &database) {
    Json json;
    if (database)
        json["database"] = *database;
    json["index"] = outcome.index;
    json["kind"] = outcome.kind;
    json["name"] = optionalString(outcome.name);
    json["path"] = optionalString(outcome.path);
    json["bytes"] = outcome.bytes;
    json["status"] = outcome.status;
    json["error"] = optionalString(outcome.error);
    return json;
}

std::optional<SubfileOutcome> outcomeFromJson(const Json &value) {
    try {
        SubfileOutcome outcome;
        outcome.index = value.at("index").get<int32_t>();
        outcome.kind = value.at("kind").get<std::string>();
        if (!value.at("name").is_null())
            outcome.name = value.at("name").get<std::string>();
        if (!value.at("path").is_null())
            outcome.path = value.at("path").get<std::string>();
        outcome.bytes = value.at("bytes").get<uint64_t>();
        outcome.status = value.at("status").get<int>();
        if (!value.at("error").is_null())
            outcome.error = value.at("error").get<std::string>();
        outcome.written = value.value("written", false);
        return outcome;
    } catch (const nlohmann::json::exception &) {
        return std::nullopt;
    }
}

} // namespace tessel::cli
