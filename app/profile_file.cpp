#include "app/profile_file.h"

#include <QFile>
#include <QSaveFile>
#include <QStringDecoder>
#include <QStringEncoder>

namespace sorvane::app {
namespace {

bool IsSectionLine(const QString& trimmed) { return trimmed.startsWith(u'[') && trimmed.indexOf(u']') > 0; }

QString SectionNameOf(const QString& trimmed) { return trimmed.mid(1, trimmed.indexOf(u']') - 1).trimmed(); }

bool IsEntryLine(const QString& trimmed) {
    return !trimmed.isEmpty() && !trimmed.startsWith(u';') && !IsSectionLine(trimmed);
}

}  // namespace

ProfileFile::Entry SplitProfileLine(const QString& line) {
    const QString trimmed = line.trimmed();
    const qsizetype equals = trimmed.indexOf(u'=');
    if (equals < 0) return {trimmed, trimmed};
    return {trimmed.left(equals).trimmed(), trimmed.mid(equals + 1).trimmed()};
}

bool ProfileFile::Load(const std::filesystem::path& path) {
    lines_.clear();
    utf16_ = bom_ = crlf_ = false;
    QFile file(QString::fromStdString(path.string()));
    if (!file.open(QIODevice::ReadOnly)) return false;
    const QByteArray bytes = file.readAll();
    QString text;
    if (bytes.startsWith("\xFF\xFE")) {
        utf16_ = bom_ = true;
        QStringDecoder decode(QStringDecoder::Utf16LE);
        text = decode(bytes.mid(2));
    } else if (bytes.startsWith("\xEF\xBB\xBF")) {
        bom_ = true;
        text = QString::fromUtf8(bytes.mid(3));
    } else {
        text = QString::fromUtf8(bytes);
    }
    crlf_ = text.contains(u"\r\n");
    Parse(text);
    return true;
}

void ProfileFile::Parse(const QString& text) {
    lines_ = text.split(u'\n');
    for (QString& line : lines_) {
        if (line.endsWith(u'\r')) line.chop(1);
    }
    // A final line break does not start one more (empty) line.
    if (!lines_.isEmpty() && lines_.back().isEmpty()) lines_.removeLast();
}

QStringList ProfileFile::SectionNames() const {
    QStringList names;
    for (const QString& line : lines_) {
        const QString trimmed = line.trimmed();
        if (!IsSectionLine(trimmed)) continue;
        const QString name = SectionNameOf(trimmed);
        if (!names.contains(name, Qt::CaseInsensitive)) names.push_back(name);
    }
    return names;
}

int ProfileFile::FindSection(const QString& section) const {
    for (int i = 0; i < lines_.size(); ++i) {
        const QString trimmed = lines_[i].trimmed();
        if (IsSectionLine(trimmed) && SectionNameOf(trimmed).compare(section, Qt::CaseInsensitive) == 0)
            return i;
    }
    return -1;
}

int ProfileFile::SectionEnd(int header) const {
    int end = header + 1;
    while (end < lines_.size() && !IsSectionLine(lines_[end].trimmed())) ++end;
    return end;
}

std::vector<ProfileFile::Entry> ProfileFile::SectionEntries(const QString& section) const {
    std::vector<Entry> entries;
    // A section that appears twice reads as one, as the format's own readers merge them.
    for (int i = 0; i < lines_.size(); ++i) {
        const QString trimmed = lines_[i].trimmed();
        if (!IsSectionLine(trimmed) || SectionNameOf(trimmed).compare(section, Qt::CaseInsensitive) != 0)
            continue;
        const int end = SectionEnd(i);
        for (int j = i + 1; j < end; ++j) {
            const QString entryLine = lines_[j].trimmed();
            if (IsEntryLine(entryLine)) entries.push_back(SplitProfileLine(entryLine));
        }
        i = end - 1;
    }
    return entries;
}

QString ProfileFile::GetString(const QString& section, const QString& key, const QString& fallback) const {
    for (const Entry& entry : SectionEntries(section)) {
        if (entry.first.compare(key, Qt::CaseInsensitive) == 0) return entry.second;
    }
    return fallback;
}

void ProfileFile::SetString(const QString& section, const QString& key, const QString& value) {
    const QString line = key + u'=' + value;
    const int header = FindSection(section);
    if (header < 0) {
        if (!lines_.isEmpty() && !lines_.back().trimmed().isEmpty()) lines_.push_back(QString());
        lines_.push_back(u'[' + section + u']');
        lines_.push_back(line);
        return;
    }
    const int end = SectionEnd(header);
    int lastEntry = header;
    for (int j = header + 1; j < end; ++j) {
        const QString trimmed = lines_[j].trimmed();
        if (!IsEntryLine(trimmed)) continue;
        lastEntry = j;
        if (SplitProfileLine(trimmed).first.compare(key, Qt::CaseInsensitive) == 0) {
            lines_[j] = line;
            return;
        }
    }
    lines_.insert(lastEntry + 1, line);
}

QString ProfileFile::Text() const {
    const QString newline = crlf_ ? QStringLiteral("\r\n") : QStringLiteral("\n");
    QString text;
    for (const QString& line : lines_) text += line + newline;
    return text;
}

bool ProfileFile::Save(const std::filesystem::path& path) const {
    QSaveFile file(QString::fromStdString(path.string()));
    if (!file.open(QIODevice::WriteOnly)) return false;
    QByteArray bytes;
    if (utf16_) {
        QStringEncoder encode(QStringEncoder::Utf16LE);
        bytes = QByteArray("\xFF\xFE", 2) + QByteArray(encode(Text()));
    } else {
        bytes = (bom_ ? QByteArray("\xEF\xBB\xBF") : QByteArray()) + Text().toUtf8();
    }
    if (file.write(bytes) != bytes.size()) return false;
    return file.commit();
}

}  // namespace sorvane::app
