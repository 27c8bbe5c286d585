#include "engines/fat_test_support.h"

#include <cctype>
#include <cstdlib>
#include <deque>
#include <sstream>

#include "engines/result_walker.h"
#include "platform/text_encoding.h"
#include "results/folder_key.h"
#include "results/scan_resume_store.h"

namespace sorvane::fattest {

using testkit::RunCommand;
using testkit::ShellQuote;

ScanFolder::ScanFolder() {
    CScanResumeStore::ResetInstanceForTests();
    CScanResumeStore::Instance().NewScanFolder();
}

ScanFolder::~ScanFolder() { CScanResumeStore::ResetInstanceForTests(); }

std::vector<FoundEntry> AllRecords(IFileRecoveryParse& engine) {
    std::vector<FoundEntry> all;
    EXPECT_EQ(WalkResults(engine,
                          [&](const WalkedItem& item) {
                              all.push_back({item.folderPath + item.record.Name(), item.record});
                              return true;
                          }),
              0);
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
    if (RunCommand("bash -c " + ShellQuote(command), &out) != 0) return "";
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
