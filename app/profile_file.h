// Reader and writer of the "Windows profile" text format used by config.ini and
// the language files: "[Section]" lines, then "key=value" lines.
//
// Rules kept from that format: section and key names compare without regard
// to case; within a section the first line of a key wins; a line without "="
// is both key and value; lines starting with ";" are comments. The file may be
// UTF-8 (with or without a byte-order mark) or UTF-16LE with a byte-order mark;
// it is written back in the encoding and line-end style it was read in.
#pragma once

#include <QString>
#include <QStringList>
#include <filesystem>
#include <utility>
#include <vector>

namespace sorvane::app {

class ProfileFile {
  public:
    using Entry = std::pair<QString, QString>;

    // Reads the file; a missing or unreadable file gives an empty profile (false).
    bool Load(const std::filesystem::path& path);
    // Parses text directly (for content that is already in memory).
    void Parse(const QString& text);

    // Section names in file order, each once.
    QStringList SectionNames() const;
    // The section's lines split at their first "=", in file order, duplicates kept.
    std::vector<Entry> SectionEntries(const QString& section) const;
    // The value of the first line of `key` in `section`, or `fallback`.
    QString GetString(const QString& section, const QString& key, const QString& fallback = {}) const;

    // Sets the key's value in memory: replaces its first line in the section,
    // else adds a line at the end of the section, else adds the section.
    void SetString(const QString& section, const QString& key, const QString& value);
    // Writes the profile to `path` through a temporary file and a rename, so a
    // crash never leaves half a configuration behind. Returns false on failure.
    bool Save(const std::filesystem::path& path) const;

    QString Text() const;

  private:
    // Index of the section's "[...]" line, or -1.
    int FindSection(const QString& section) const;
    // One past the section's last line.
    int SectionEnd(int header) const;

    QStringList lines_;
    bool utf16_ = false;
    bool bom_ = false;
    bool crlf_ = false;
};

// Splits one profile line at its first "="; a line without "=" is both key and value.
ProfileFile::Entry SplitProfileLine(const QString& line);

}  // namespace sorvane::app
