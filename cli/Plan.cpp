#include "Plan.h"

#include "Platform.h"
#include "SafeName.h"

#include <map>

namespace tessel::cli {
namespace fs = std::filesystem;

bool isMailNote(const quillon::SubFile &subFile) {
    return subFile.name && subFile.name->size() > 5 && subFile.name->ends_with(".mail");
}

std::vector<std::optional<fs::path>> planPaths(const std::vector<CatalogueEntry> &entries, Format format) {
    std::vector<std::optional<fs::path>> paths(entries.size());
    NameAllocator top;
    std::map<int32_t, size_t> positionOfIndex;
    for (size_t i = 0; i < entries.size(); i++)
        positionOfIndex[entries[i].index] = i;
    std::map<size_t, std::string> folderOfNote;      // by position
    std::map<size_t, NameAllocator> folderAllocators; // by position of the note

    const auto fallback = [](int32_t index) { return "subfile_" + std::to_string(index); };

    // Notes first, in index order, so that their names do not depend on the attachments'.
    for (size_t i = 0; i < entries.size(); i++) {
        const auto &info = entries[i].info;
        if (!info || info->kind != QLSubFileType_Main)
            continue;
        const std::string safe = safeComponent(info->name.value_or(""), fallback(entries[i].index));
        const std::string stem = splitExtension(safe).first;
        const std::string extension = noteExtension(format, isMailNote(*info));
        const std::string chosen = top.claimWithFolder(stem, extension);
        paths[i] = pathFromUtf8(chosen + extension);
        folderOfNote[i] = chosen;
    }
    for (size_t i = 0; i < entries.size(); i++) {
        const auto &info = entries[i].info;
        if (!info || info->kind == QLSubFileType_Main || info->kind == QLSubFileType_Folder)
            continue;
        const std::string safe = safeComponent(info->name.value_or(""), fallback(entries[i].index));
        const auto [stem, extension] = splitExtension(safe);
        const auto parent = positionOfIndex.find(info->parent);
        if (parent != positionOfIndex.end() && folderOfNote.contains(parent->second)) {
            const std::string &folder = folderOfNote[parent->second];
            paths[i] =
                pathFromUtf8(folder) / pathFromUtf8(folderAllocators[parent->second].claim(stem, extension));
        } else {
            paths[i] = pathFromUtf8(top.claim(stem, extension));
        }
    }
    return paths;
}

} // namespace tessel::cli
