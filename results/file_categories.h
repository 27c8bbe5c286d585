// The five categories by which found files are searched, shown and recovered,
// the names scan logs get, and where a recovered file lands. Shared by the
// engines, the command line and the windows.
#pragma once

#include <cstdint>
#include <filesystem>
#include <set>
#include <string>
#include <string_view>

namespace sorvane {

// The category lists: "*.ext" patterns joined with "|". All tests against them
// are substring tests, so "rm" is found in the audio list (in "*.rmvb" of the
// video list too) and "ps" in the photo list.
inline constexpr std::string_view kPhotoExtensions =
    "*.bmp|*.gif|*.jpg|*.jpeg|*.png|*.psd|*.tif|*.tiff|*.pcx|*.scr|*.ico|*.nef|*.nrw|*.crw|*.cr2|*.sr2|*.arw|"
    "*.srf|*.divu|*.pgm|*.k25|*.kdc|*.dcr|*.raf|*.iff|*.pbm|*.mef|*.jp2|*.mos|*.x3f|*.orf|*.erf|*.indd|*.pef|"
    "*.psp|*.mrw|*.dng|*.raw|*.pct|*.tga|*.thm";
inline constexpr std::string_view kAudioExtensions =
    "*.mp3|*.wav|*.ape|*.aiff|*.rps|*.mid|*.midi|*.m4a|*.m4p|*.au|*.ogg|*.wma|*.rm|*.ra|*.acd|*.amr|*.at3|"
    "*.caf|*.dss|*.m4r|*.nra|*.snd";
inline constexpr std::string_view kVideoExtensions =
    "*.rmvb|*.rm|*.mpeg|*.mov|*.avi|*.wmv|*.asf|*.mp4|*.flv|*.fla|*.swf|*.m4v|*.3gp|*.dv|*.3g2|*.m4b|*.mkv|"
    "*.mts|*.divx|*.ogm|*.moi|*.vob|*.ajp|*.f4v|*.mqv|*.svi|*.vid|*.tod|*.hdmov|*.mod|*.mxf|*.lrv";
inline constexpr std::string_view kDocumentExtensions =
    "*.doc|*.xls|*.ppt|*.odt|*.ods|*.pdf|*.docx|*.xlsx|*.pptx|*.ole|*.txt|*.xml|*.chm|*.htm|*.html|*.pst|"
    "*.dbx|*.wps|*.dps|*.et|*.one|*.mpp|*.mdb|*.accdb";
inline constexpr std::string_view kArchiveExtensions =
    "*.zip|*.rar|*.gzip|*.tar|*.7z|*.cab|*.arj|*.lzh|*.ace|*.gz|*.uue|*.bz2|*.jar|*.iso";

// The pattern text that selects files of no category list.
inline constexpr std::string_view kOtherPattern = ".other";

// Photo, audio, document, video and archive lists joined with "|": the text a
// search's ".other" rule tests extensions against.
const std::string& KnownExtensionText();
// Photo, audio, video, document and archive lists joined with "|": the search
// pattern when the user chose no extension.
std::string AllCategoriesPattern();

// The text after the last "." of a file name, lower-cased (ASCII); empty when
// the name has no "." or ends in one.
std::string LowerExtension(std::string_view fileName);
// True when the lower-case extension occurs in the photo list.
bool IsPhotoExtension(std::string_view lowerExtension);

// How a found file is previewed. Documents and archives are written under
// their own name for a viewer to open, pictures to "tmp.jpg", sound and video
// to "tmp.avi"; anything else is shown from its first bytes.
enum class PreviewForm { kFirstBytes, kDocument, kPicture, kMedia };
// The preview form of a file by its extension. An extension counts only when
// it is a whole entry of a list ("p" is not "*.pdf"), for every list alike.
PreviewForm PreviewFormOf(std::string_view fileName);
// The name of the preview file of that form: the file's name made safe,
// "tmp.jpg" or "tmp.avi"; empty for kFirstBytes.
std::string PreviewFileName(PreviewForm form, std::string_view fileName);
// True when `lowerExtension` is a whole "*.ext" entry of a "|"-separated list.
bool ListHasExtension(std::string_view list, std::string_view lowerExtension);

// The category folder a recovered file goes to: "photo", "audio", "video",
// "document", "archive" or "others". The extension (at most 26 characters) is
// looked up as a substring of the lists in that order. A name without an
// extension goes to "others".
std::string CategoryFolderName(std::string_view fileName);

// Which found files a person asked for by type: whole categories ("photo",
// "audio", "video", "document", "archive", "other"), single extensions
// (lower case, no dot) and extensions left out although their category is
// chosen. Both front ends choose files through this, so the window's list and
// the command line's tell the same truth.
struct TypeChoice {
    std::set<std::string> categories;
    std::set<std::string> extensions;
    std::set<std::string> excluded;
};

// The choice of every category.
TypeChoice EveryType();
// True when a file of this name is chosen: its extension is not excluded, and
// it is named itself or its category folder (CategoryFolderName, "others"
// standing for "other") is chosen.
bool ChosenByType(const TypeChoice& choice, std::string_view fileName);
// The scan log search that finds at least every chosen file: the lists of
// the chosen categories, "*.ext" of the chosen extensions and, with any
// category, the ".other" rule. Empty when nothing is chosen; what it finds
// is narrowed with ChosenByType.
std::string SearchPatternOf(const TypeChoice& choice);

// "Fast_<start>_<year><month><day><hour><minute>": the log name of a quick
// scan. The minute takes two characters, right-aligned, so minute 5 gives " 5";
// the other fields are printed without padding.
std::string FastLogName(int64_t partitionStart, int year, int month, int day, int hour, int minute);
// The same name for the current local time.
std::string FastLogNameNow(int64_t partitionStart);

// `path` when nothing exists there (not even a dangling link); else the first of
// "<base>(1)<ext>", "<base>(2)<ext>", ... in the same folder that does not
// exist. Existing files are never chosen, so recovering never overwrites.
// Returns an empty path when no free name is found.
std::filesystem::path UniqueDestinationPath(const std::filesystem::path& path);

}  // namespace sorvane
