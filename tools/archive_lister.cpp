// Extract: lists the contents of an archive for the preview pane.
//
//   Extract l "ARCHIVE"
//
// The listing has a short header, then a rule made of minus signs (the preview
// shows everything from the rule on), one line per entry and a closing total.
// Any format and filter libarchive reads is accepted: zip, 7z, rar, tar, cab,
// iso, and gz, bz2 or xz around a tar or around a single file.
// Exit status 0 when the whole archive was listed, 1 on a bad command line,
// 2 when it cannot be opened, 3 when it is damaged part way (the entries read
// until then are listed).
#include <archive.h>
#include <archive_entry.h>

#include <cinttypes>
#include <cstdio>
#include <ctime>
#include <string>

namespace {

constexpr const char* kRule = "------------------- ------------ ------------------------";

struct ArchiveCloser {
    archive* handle;
    ~ArchiveCloser() { archive_read_free(handle); }
};

std::string ModifiedText(archive_entry* entry) {
    if (!archive_entry_mtime_is_set(entry)) return "                   ";
    std::time_t when = archive_entry_mtime(entry);
    std::tm parts{};
    if (gmtime_r(&when, &parts) == nullptr) return "                   ";
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &parts);
    return text;
}

void ErrorLine(const char* path, archive* handle) {
    const char* why = archive_error_string(handle);
    std::fprintf(stderr, "Extract: %s: %s\n", path, why != nullptr ? why : "not a readable archive");
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3 || std::string(argv[1]) != "l") {
        std::fprintf(stderr, "usage: Extract l ARCHIVE\n");
        return 1;
    }
    const char* path = argv[2];
    ArchiveCloser reader{archive_read_new()};
    archive_read_support_filter_all(reader.handle);
    // Every archive format but mtree, which would take any text file for a
    // listing of file names.
    archive_read_support_format_7zip(reader.handle);
    archive_read_support_format_ar(reader.handle);
    archive_read_support_format_cab(reader.handle);
    archive_read_support_format_cpio(reader.handle);
    archive_read_support_format_iso9660(reader.handle);
    archive_read_support_format_lha(reader.handle);
    archive_read_support_format_rar(reader.handle);
    archive_read_support_format_rar5(reader.handle);
    archive_read_support_format_tar(reader.handle);
    archive_read_support_format_xar(reader.handle);
    archive_read_support_format_zip(reader.handle);
    // A lone compressed file (report.doc.gz) has no archive format inside; the
    // raw reader lists it as one entry. It only bids when nothing else does.
    archive_read_support_format_raw(reader.handle);
    if (archive_read_open_filename(reader.handle, path, 64 * 1024) != ARCHIVE_OK) {
        ErrorLine(path, reader.handle);
        return 2;
    }

    // The header goes out with the first entry, so a file that turns out to be
    // no archive at all prints no rule and the preview falls back to its bytes.
    bool headerShown = false;
    auto showHeader = [&] {
        if (headerShown) return;
        headerShown = true;
        std::printf("Listing archive: %s\n\n", path);
        std::printf("Modified            Size         Name\n");
        std::printf("%s\n", kRule);
    };
    uint64_t files = 0;
    uint64_t folders = 0;
    uint64_t totalSize = 0;
    int status = 0;
    archive_entry* entry = nullptr;
    for (;;) {
        int rc = archive_read_next_header(reader.handle, &entry);
        if (rc == ARCHIVE_EOF) break;
        if (rc == ARCHIVE_FATAL || rc == ARCHIVE_RETRY) {
            ErrorLine(path, reader.handle);
            status = headerShown ? 3 : 2;
            break;
        }
        const char* name = archive_entry_pathname_utf8(entry);
        if (name == nullptr) name = archive_entry_pathname(entry);
        if (name == nullptr) name = "?";
        std::string rawName;
        if (archive_format(reader.handle) == ARCHIVE_FORMAT_RAW) {
            // Raw data without a compression filter around it is no archive at all.
            if (archive_filter_count(reader.handle) <= 1) {
                std::fprintf(stderr, "Extract: %s is not an archive\n", path);
                status = 2;
                break;
            }
            // The raw reader names its single entry "data"; show the file's own name
            // without the compression suffix instead.
            rawName = path;
            rawName = rawName.substr(rawName.find_last_of('/') + 1);
            std::string::size_type dot = rawName.find_last_of('.');
            if (dot != std::string::npos && dot != 0) rawName.resize(dot);
            name = rawName.c_str();
        }
        showHeader();
        bool folder = archive_entry_filetype(entry) == AE_IFDIR;
        int64_t size = archive_entry_size_is_set(entry) ? archive_entry_size(entry) : 0;
        if (size < 0) size = 0;
        if (folder) {
            ++folders;
            std::printf("%s %12s %s\n", ModifiedText(entry).c_str(), "<folder>", name);
        } else {
            ++files;
            totalSize += static_cast<uint64_t>(size);
            std::printf("%s %12" PRId64 " %s\n", ModifiedText(entry).c_str(), size, name);
        }
        archive_read_data_skip(reader.handle);
    }
    if (status == 2) return status;
    showHeader();
    std::printf("%s\n", kRule);
    std::printf("%" PRIu64 " files, %" PRIu64 " folders, %" PRIu64 " bytes%s\n", files, folders, totalSize,
                status != 0 ? " (the archive is damaged; the listing stops here)" : "");
    return status;
}
