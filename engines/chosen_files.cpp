#include "engines/chosen_files.h"

#include "engines/professional_recovery.h"
#include "engines/result_walker.h"
#include "platform/result_codes.h"
#include "results/file_categories.h"

namespace sorvane {

WalkOutcome ForEachChosenFile(IFileRecoveryParse& engine, bool deep,
                              const std::function<bool(const FoundItemRecord&)>& chosen,
                              const std::function<bool(const ChosenFile&)>& visit,
                              const std::function<void(const std::string& folderPath)>& unlisted) {
    WalkOutcome outcome;
    if (!deep) {
        const int listed = WalkFiles(
            engine,
            [&](const WalkedItem& item) {
                ++outcome.files;
                if (!chosen(item.record)) return true;
                outcome.stopped = !visit(ChosenFile{item.record, item.folderPath});
                return !outcome.stopped;
            },
            [&](const std::string& folderPath, int) {
                if (unlisted) unlisted(folderPath);
            });
        outcome.incomplete = listed != kSuccess;
        return outcome;
    }
    // The search's answer does not tell a failed read from an empty list, and
    // a file whose folders are lost has an empty path.
    FoundItemList all;
    static_cast<void>(engine.FindByExtension(SearchPatternOf(EveryType()), all));
    for (const auto& record : all) {
        ++outcome.files;
        if (!chosen(record)) continue;
        ChosenFile file{record, {}};
        if (engine.GetFolderPath(record, file.folderPath) != kSuccess) file.folderPath.clear();
        if (!visit(file)) {
            outcome.stopped = true;
            break;
        }
    }
    return outcome;
}

bool IsDeepEngine(const IFileRecoveryParse& engine) {
    return dynamic_cast<const CProfessionalRecovery*>(&engine) != nullptr;
}

}  // namespace sorvane
