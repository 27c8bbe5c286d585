// The first character a deleted FAT short name lost, guessed only where the
// guess is sound. A deleted entry's first byte is overwritten by the delete
// mark, so "IMG_0412.JPG" reads "!MG_0412.JPG" when no long name survives.
// Two things make the letter sure enough to show: siblings in the same
// folder that share the rest of the name's pattern ("IMG_0414.JPG" beside
// "!MG_0413.JPG"), and the folder rules every camera follows (a "DCIM" folder
// in the root, "NNNXXXXX" folders in it, files named by the common camera
// prefixes in those). Anything else keeps its "!".
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace sorvane {

// Where a folder lies among a camera's folders.
enum class CameraPlace {
    kNone,
    kRoot,          // the volume's root, where "DCIM" lies
    kDcim,          // "DCIM", which holds the "100CANON"-style folders
    kCameraFolder,  // a "100CANON"-style folder, which holds the pictures
};

// The place of a folder named `name` inside a folder at `parentPlace`.
CameraPlace PlaceOfFolder(std::string_view name, CameraPlace parentPlace);

// `name` (a short name that starts with the "!" of a lost character, as the
// engines show it) with the character restored, or empty when no guess is
// sound. `siblings` are the names of the other entries of the same folder,
// live or deleted, as shown; `place` is where that folder lies. The restored
// character takes the case of the name's other letters.
std::string GuessLostFirstCharacter(std::string_view name, bool isFolder, CameraPlace place,
                                    const std::vector<std::string>& siblings);

}  // namespace sorvane
