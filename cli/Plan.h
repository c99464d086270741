// Where each subfile of a catalogue is written, relative to the output folder. A note becomes
// "<its name without extension>.<mht|txt|dxl>", its attachments go into a folder of that base name,
// the root entry writes nothing. Names are made safe and unique first (SafeName.h). The plan is
// made over the whole catalogue, so a subfile chosen by index lands where a full run puts it.
#pragma once

#include "Options.h"

#include <quillon/host/Catalogue.h>

#include <cstdint>
#include <filesystem>
#include <optional>
#include <vector>

namespace tessel::cli {

// One catalogue slot: the subfile's info, or the status that refused it.
struct CatalogueEntry {
    int32_t index = 0;
    std::optional<quillon::SubFile> info;
    int status = 0;
};

// A note subfile is a mail memo when the reader names it "<base>_ql<n>.mail".
bool isMailNote(const quillon::SubFile &subFile);

// The relative path of every entry, by position in entries; nullopt for what writes nothing (the
// root entry, a slot the reader could not describe).
std::vector<std::optional<std::filesystem::path>> planPaths(const std::vector<CatalogueEntry> &entries,
                                                           Format format);

} // namespace tessel::cli
