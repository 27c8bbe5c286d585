#include "engines/fat_test_support.h"

#include <cctype>
#include <cstdlib>
#include <deque>
#include <sstream>

#include "platform/text_encoding.h"
#include "results/folder_key.h"
#include "results/scan_resume_store.h"

namespace sorvane::fattest {

using testkit::RunCommand;
using testkit::ShellQuote;

ScanFolder::ScanFolder() {
    if (const char* old = std::getenv("SORVANE_DATA_DIR")) {
        previous_ = old;
        hadPrevious_ = true;
    }
    ::setenv("SORVANE_DATA_DIR", dir_.Path().c_str(), 1);
    CScanResumeStore::ResetInstanceForTests();
    CScanResumeStore::Instance().NewScanFolder();
}

ScanFolder::~ScanFolder() {
    if (hadPrevious_) ::setenv("SORVANE_DATA_DIR", previous_.c_str(), 1);
    else ::unsetenv("SORVANE_DATA_DIR");
    CScanResumeStore::ResetInstanceForTests();
}

std::vector<FoundEntry> AllRecords(IFileRecoveryParse& engine) {
    std::vector<FoundEntry> all;
    struct Pending {
        bool root;
        FoundItemRecord folder;
        uint32_t level;
        std::string prefix;
    };
    std::deque<Pending> queue{{true, {}, 0, ""}};
    size_t guard = 0;
    while (!queue.empty() && ++guard < 100000) {
        Pending p = queue.front();
        queue.pop_front();
        FoundItemList children;
        engine.ListChildren(p.root ? nullptr : &p.folder, p.level, children);
        for (const auto& child : children) {
            std::string path = p.prefix + child.Name();
            all.push_back({path, child});
            if (child.IsFolder()) queue.push_back({false, child, p.level + 1, path + "/"});
        }
    }
    return all;
}

std::string NormalisedPath(const std::string& path) {
    std::string out;
    std::istringstream parts(path);
    std::string part;
    while (std::getline(parts, part, '/')) {
        if (part.empty()) continue;
        if (!out.empty()) out += "/";
        out += AsciiLower(part.substr(1));
    }
    return out;
}

std::map<std::string, std::string> FlsDeletedFiles(const std::filesystem::path& image, uint64_t offset) {
    std::string out;
    RunCommand("fls -r -d -p -o " + std::to_string(offset) + " " + ShellQuote(image.string()), &out);
    std::map<std::string, std::string> files;
    std::istringstream lines(out);
    std::string line;
    while (std::getline(lines, line)) {
        // "r/r * 123:\tpath" ("(realloc)" after the number when the entry was reused)
        if (line.rfind("r/r * ", 0) != 0) continue;
        size_t colon = line.find(':');
        size_t tab = line.find('\t');
        if (colon == std::string::npos || tab == std::string::npos) continue;
        std::string inode = line.substr(6, colon - 6);
        if (inode.find('(') != std::string::npos) continue;
        files[NormalisedPath(line.substr(tab + 1))] = inode;
    }
    return files;
}

std::string IcatSha256(const std::filesystem::path& image, uint64_t offset, const std::string& inode) {
    std::string out;
    std::string command = "set -o pipefail; icat -o " + std::to_string(offset) + " " +
                          ShellQuote(image.string()) + " " + inode + " | sha256sum";
    if (RunCommand("bash -c " + ShellQuote(command), &out) != 0)
        return "";
    return out.substr(0, out.find(' '));
}

namespace {

bool FitsShortName(const std::string& name) {
    size_t dot = name.rfind('.');
    std::string base = dot == std::string::npos ? name : name.substr(0, dot);
    std::string ext = dot == std::string::npos ? "" : name.substr(dot + 1);
    if (base.empty() || base.size() > 8 || ext.size() > 3) return false;
    for (char c : base + ext)
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != '_' && c != '-' && c != '~') return false;
    return true;
}

}  // namespace

bool NameMatches(const std::string& found, const std::string& original, bool deleted) {
    if (found == original) return true;
    if (!FitsShortName(original)) return false;
    std::string lower = AsciiLower(original);
    if (found == lower) return true;
    return deleted && found == "!" + lower.substr(1);
}

bool PathMatches(const std::string& found, const std::string& original, bool deleted) {
    std::vector<std::string> a, b;
    std::istringstream fa(found), fb(original);
    std::string part;
    while (std::getline(fa, part, '/')) a.push_back(part);
    while (std::getline(fb, part, '/')) b.push_back(part);
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (!NameMatches(a[i], b[i], deleted)) return false;
    return true;
}

std::string RecoverSha256(IFileRecoveryParse& engine, const FoundItemRecord& record,
                          const std::filesystem::path& file, int* result) {
    int rc = engine.RecoverItem(record, file, 0);
    if (result) *result = rc;
    if (rc != 0) return "";
    return testkit::FileSha256(file);
}

}  // namespace sorvane::fattest
