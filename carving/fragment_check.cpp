#include "carving/fragment_check.h"

namespace sorvane {

namespace {

bool IsZipFamily(std::string_view ext) {
    for (std::string_view known : {"zip", "docx", "xlsx", "pptx", "docm", "xlsm", "pptm", "odt", "ods", "odp",
                                   "odg", "epub", "jar", "apk"})
        if (ext == known) return true;
    return false;
}

bool IsJpeg(std::string_view ext) { return ext == "jpg" || ext == "jpeg"; }

bool IsMp4Family(std::string_view ext) {
    for (std::string_view known : {"mp4", "mov", "m4a", "m4v", "3gp"})
        if (ext == known) return true;
    return false;
}

}  // namespace

bool HasFragmentCheck(std::string_view extension) {
    return extension == "png" || extension == "pdf" || IsJpeg(extension) || IsMp4Family(extension) ||
           IsZipFamily(extension);
}

FragmentVerdict CheckFragmentsByExtension(std::string_view extension, FileByteSource& file) {
    if (extension == "png") return CheckPngFragments(file);
    if (IsJpeg(extension)) return CheckJpegFragments(file);
    if (extension == "pdf") return CheckPdfFragments(file);
    if (IsMp4Family(extension)) return CheckMp4Fragments(file);
    if (IsZipFamily(extension)) return CheckZipFragments(file);
    return FragmentVerdict::CannotTell(0);
}

}  // namespace sorvane
