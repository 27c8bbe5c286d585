#include "engines/fat_lost_letter_pass.h"

#include <deque>
#include <map>
#include <set>
#include <string>
#include <unordered_map>
#include <vector>

#include "fs/fat_lost_letter.h"
#include "platform/result_codes.h"
#include "results/scan_log.h"

namespace sorvane {
namespace {

bool LostFirstCharacter(const FoundItemRecord& r) {
    return (r.engineSpecific & kFatFirstCharacterLost) != 0 && (r.engineSpecific & kFatNameGuessed) == 0;
}

}  // namespace

int GuessLostLettersInLog(CScanLog& log, FolderKey root) {
    std::set<uint32_t> lost;
    const uint32_t end = log.ForEachRecordFrom(1, [&lost](FoundItemRecord& r) {
        if (LostFirstCharacter(r)) lost.insert(uint32_t{r.recordNumber});  // a copy: the record is packed
    });
    if (end <= log.Count()) return kErrReadFault;
    if (lost.empty()) return kSuccess;

    // Folders by record number, and the lists filed under each folder.
    std::unordered_map<uint32_t, FolderKey> folderOfRecord;
    std::unordered_map<uint32_t, std::string> folderName;
    for (const DirInfoEntry& f : log.Folders()) {
        folderOfRecord[f.recordNumber] = f.key;
        folderName[f.recordNumber] = NameFromField(f.name, kNameFieldSize);
    }
    std::map<FolderKey, std::vector<RelationKey>> listsOf;
    for (const auto& [relation, list] : log.Children())
        listsOf[RelationFolderKey(relation)].push_back(relation);

    // The lists a guess could change: those holding a name that lost its first character.
    std::set<RelationKey> withLost;
    for (const auto& [relation, list] : log.Children())
        for (uint32_t number : list)
            if (lost.count(number)) withLost.insert(relation);

    // One list: the guesses from its names, then the places of its folders.
    auto guessIn = [&](RelationKey relation, CameraPlace place,
                       std::vector<std::pair<FolderKey, CameraPlace>>& sub) {
        const std::vector<uint32_t> numbers = log.Children().at(relation);
        if (withLost.count(relation)) {
            std::vector<FoundItemRecord> records;
            std::vector<std::string> siblings;
            for (uint32_t number : numbers) {
                FoundItemRecord r;
                if (int rc = log.ReadRecord(number, r); rc != kSuccess) return rc;
                siblings.push_back(r.Name());
                records.push_back(r);
            }
            for (FoundItemRecord& r : records) {
                if (!lost.count(uint32_t{r.recordNumber})) continue;
                const std::string guess = GuessLostFirstCharacter(r.Name(), r.IsFolder(), place, siblings);
                if (guess.empty()) continue;
                r.SetName(guess);
                r.engineSpecific |= kFatNameGuessed;
                if (int rc = log.RewriteRecord(r); rc != kSuccess) return rc;
                if (r.IsFolder()) folderName[uint32_t{r.recordNumber}] = guess;
            }
        }
        for (uint32_t number : numbers) {
            auto folder = folderOfRecord.find(number);
            if (folder == folderOfRecord.end()) continue;
            // Below a camera folder, or anywhere else, names have no place of their own.
            const CameraPlace inner =
                place == CameraPlace::kNone ? CameraPlace::kNone : PlaceOfFolder(folderName[number], place);
            sub.emplace_back(folder->second, inner);
        }
        return kSuccess;
    };

    // From the root down, so that "!CIM" is "DCIM" before its folders are placed.
    std::set<RelationKey> done;
    std::set<FolderKey> reached{root};
    std::deque<std::pair<FolderKey, CameraPlace>> queue{{root, CameraPlace::kRoot}};
    while (!queue.empty()) {
        const auto [key, place] = queue.front();
        queue.pop_front();
        for (RelationKey relation : listsOf[key]) {
            if (!done.insert(relation).second) continue;
            std::vector<std::pair<FolderKey, CameraPlace>> sub;
            if (int rc = guessIn(relation, place, sub); rc != kSuccess) return rc;
            for (const auto& next : sub)
                if (reached.insert(next.first).second) queue.push_back(next);
        }
    }
    // Lists no browsing reaches still have siblings to learn from.
    for (RelationKey relation : withLost) {
        if (done.count(relation)) continue;
        std::vector<std::pair<FolderKey, CameraPlace>> sub;
        if (int rc = guessIn(relation, CameraPlace::kNone, sub); rc != kSuccess) return rc;
    }
    return kSuccess;
}

}  // namespace sorvane
