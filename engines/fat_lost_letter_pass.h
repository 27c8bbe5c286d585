// The deep FAT engine's guess of the first character a deleted short name
// lost, made once the scan log holds every entry it found: only then are a
// folder's siblings all known, and a folder's place among a camera's folders
// ("DCIM", "100CANON") follows from its parents' names. The guess itself is
// the quick engine's (GuessLostFirstCharacter); a guessed name is marked so
// that listings say so, and a name without a sound guess keeps its "!".
#pragma once

#include <cstdint>

#include "results/folder_key.h"

namespace sorvane {

class CScanLog;

// Deep FAT records, in the engine-specific field: the name is a deleted short
// name whose first character the delete mark took ("!MG_0412.JPG"), not yet
// guessed. Beside kFatNameGuessed, which marks the guessed ones.
inline constexpr uint32_t kFatFirstCharacterLost = 0x200;

// Guesses the lost characters of the records marked kFatFirstCharacterLost
// in `log`, whose root folder is `root`, rewriting the records it restores
// (and renaming the folders among them). Returns 0 or the first failing read
// or write; records before a failure keep what was done.
int GuessLostLettersInLog(CScanLog& log, FolderKey root);

}  // namespace sorvane
