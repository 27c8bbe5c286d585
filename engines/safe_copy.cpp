#include "engines/safe_copy.h"

#include <system_error>
#include <vector>

#include "platform/file_name_rules.h"
#include "platform/file_owner.h"
#include "platform/path_text.h"
#include "platform/result_codes.h"
#include "results/safe_name.h"

namespace sorvane {
namespace {

constexpr std::string_view kPartSuffix = ".part";
constexpr int kMaxNumber = 10000;

std::filesystem::path PartPath(const std::filesystem::path& path) {
    std::filesystem::path part = path;
    part += std::string(kPartSuffix);
    return part;
}

bool Taken(const std::filesystem::path& path) {
    std::error_code ec;
    // A dangling link counts as taken, so nothing is written through it.
    return std::filesystem::exists(std::filesystem::symlink_status(path, ec));
}

// A ".part" left by a stopped recovery: a plain file, never a link.
bool StalePart(const std::filesystem::path& part) {
    std::error_code ec;
    return std::filesystem::symlink_status(part, ec).type() == std::filesystem::file_type::regular;
}

// The folders from `destination` down to `folder` that do not exist yet.
std::vector<std::filesystem::path> MissingFolders(const std::filesystem::path& destination,
                                                  const std::filesystem::path& folder) {
    std::vector<std::filesystem::path> missing;
    const std::filesystem::path relative = folder.lexically_relative(destination);
    if (relative.empty() || *relative.begin() == "..") return missing;
    std::filesystem::path at = destination;
    for (const auto& part : relative) {
        if (part == ".") continue;
        at /= part;
        if (!Taken(at)) missing.push_back(at);
    }
    return missing;
}

// What a destination answers when its file system takes no such name: FAT and
// exFAT, on the USB sticks people often recover to, refuse <>:"|?* and a
// trailing dot, which a carved file's title or an NTFS name made on Linux may hold.
bool NameRefused(int result) {
    return result == kErrInvalidParameter || result == kErrInvalidName || result == kErrAccessDenied;
}

// `wanted` with every name below `destination` made acceptable to Windows,
// FAT and exFAT alike.
std::filesystem::path PortablePath(const std::filesystem::path& destination,
                                   const std::filesystem::path& wanted) {
    const std::filesystem::path relative = wanted.lexically_relative(destination);
    if (relative.empty() || *relative.begin() == "..") return wanted;
    std::filesystem::path portable = destination;
    for (const auto& part : relative)
        portable /= part == "." ? part : PathFromUtf8(NameAllowedOnWindows(Utf8FromPath(part)));
    return portable;
}

}  // namespace

std::string FittedRecoveryName(const std::string& name, int number) {
    const std::string suffix = number > 0 ? "(" + std::to_string(number) + ")" : std::string();
    const std::string cut =
        CutNameKeepingExtension(name, kMaxFileNameBytes - kPartSuffix.size() - suffix.size());
    // The number goes before the extension CutNameKeepingExtension kept.
    size_t dot = cut.rfind('.');
    if (dot == std::string::npos || dot == 0 || cut.size() - dot > 17) dot = cut.size();
    return NameAllowedBySystem(cut.substr(0, dot) + suffix + cut.substr(dot));
}

std::filesystem::path FreeRecoveryPath(const std::filesystem::path& wanted) {
    const std::filesystem::path folder = wanted.parent_path();
    const std::string name = Utf8FromPath(wanted.filename());
    for (int n = 0; n <= kMaxNumber; ++n) {
        const std::filesystem::path candidate = folder / PathFromUtf8(FittedRecoveryName(name, n));
        const std::filesystem::path part = PartPath(candidate);
        if (!Taken(candidate) && (!Taken(part) || StalePart(part))) return candidate;
    }
    return {};
}

int RecoverFileSafely(IFileRecoveryParse& engine, const FoundItemRecord& record,
                      const std::filesystem::path& destination, const std::filesystem::path& wanted,
                      uint32_t baseDepth, std::filesystem::path& written) {
    written.clear();
    std::vector<std::filesystem::path> made = MissingFolders(destination, wanted.parent_path());
    auto giveFolders = [&made] {
        for (const auto& folder : made)
            if (Taken(folder)) static_cast<void>(GiveToInvokingUser(folder));
    };
    if (record.IsFolder()) {
        const bool existed = Taken(wanted);
        const int rc = engine.RecoverItem(record, wanted, baseDepth);
        giveFolders();
        if (!existed) static_cast<void>(GiveTreeToInvokingUser(wanted));
        written = wanted;
        return rc;
    }
    auto copyTo = [&](const std::filesystem::path& target) {
        // Made here, not left to the engine, so that a folder name the
        // destination refuses is told apart from any other failure.
        std::error_code ec;
        std::filesystem::create_directories(target.parent_path(), ec);
        if (ec) return ResultFromErrorCode(ec);
        const std::filesystem::path path = FreeRecoveryPath(target);
        if (path.empty()) return kErrFileExists;
        const std::filesystem::path part = PartPath(path);
        if (Taken(part)) std::filesystem::remove(part, ec);  // left by a stopped run: replaced
        int result = engine.RecoverItem(record, part, baseDepth);
        if (result == kSuccess && Taken(path)) result = kErrFileExists;  // someone took the name meanwhile
        if (result == kSuccess) {
            std::filesystem::rename(part, path, ec);
            if (ec) result = ResultFromErrorCode(ec);
        }
        if (result != kSuccess) {
            std::filesystem::remove(part, ec);  // a cut-short file is not a recovered one
            return result;
        }
        written = path;
        return kSuccess;
    };
    int result = copyTo(wanted);
    // A name this destination refuses is kept where it is taken, and mended
    // only where it is not, so a stick formatted FAT gets the file all the same.
    if (NameRefused(result)) {
        const std::filesystem::path portable = PortablePath(destination, wanted);
        if (portable != wanted) {
            const auto more = MissingFolders(destination, portable.parent_path());
            made.insert(made.end(), more.begin(), more.end());
            result = copyTo(portable);
        }
    }
    giveFolders();
    if (result != kSuccess) return result;
    static_cast<void>(GiveToInvokingUser(written));
    return kSuccess;
}

}  // namespace sorvane
