#include "engines/professional_ntfs_recovery.h"

#include <algorithm>
#include <cstring>
#include <optional>

#include "carving/file_signature.h"
#include "device/boot_sector.h"
#include "device/byte_view.h"
#include "fs/ntfs_data_stream.h"
#include "fs/ntfs_record.h"
#include "platform/result_codes.h"
#include "results/file_categories.h"
#include "results/scan_checkpoint.h"

namespace sorvane {
namespace {

constexpr size_t kRecordReadBytes = 8192;
constexpr int kNotARecord = -1;
constexpr int kNoData = -100;
constexpr size_t kMaxParentChain = 256;

// Case-blind comparison of an ASCII name.
bool IsMftName(const std::string& name) { return name.size() == 4 && AsciiLower(name) == "$mft"; }

void WriteRuns(CheckpointWriter& w, const std::vector<NtfsRun>& runs) {
    w.U64(runs.size());
    for (const NtfsRun& run : runs) {
        w.U64(run.length);
        w.I64(run.offset);
        w.Bool(run.sparse);
    }
}

bool ReadRuns(CheckpointReader& r, std::vector<NtfsRun>& runs) {
    uint64_t n = 0;
    if (!r.Count(n, 17)) return false;
    runs.resize(n);
    for (NtfsRun& run : runs)
        if (!r.U64(run.length) || !r.I64(run.offset) || !r.Bool(run.sparse)) return false;
    return true;
}

}  // namespace

CProfessionalNtfsRecovery::CProfessionalNtfsRecovery() = default;
CProfessionalNtfsRecovery::~CProfessionalNtfsRecovery() = default;

uint32_t CProfessionalNtfsRecovery::DefaultSectorsPerCluster(uint64_t rangeSectors, uint32_t sectorSize) {
    const double k = sectorSize / 512.0;
    const double mib = static_cast<double>(rangeSectors) * sectorSize / 1048576.0;
    if (mib > 7 * k && mib <= 512 * k) return 1;
    if (mib > 512 * k && mib <= 1024 * k) return 2;
    if (mib > 1024 * k && mib <= 2048 * k) return 4;
    return 8;
}

EngineStatus CProfessionalNtfsRecovery::Open(const ScanSource& source) {
    reader_.Close();
    if (!source.reader.IsOpen()) return kErrInvalidHandle;
    reader_ = source.reader;
    sectorSize_ = source.sectorSize;
    rangeStart_ = source.start;
    rangeLength_ = source.length;
    letter_ = source.letter;
    return OpenCommon();
}

int CProfessionalNtfsRecovery::OpenCommon() {
    recordSize_ = sectorSize_ == 512 ? 1024 : sectorSize_;
    sectorsPerRecord_ = sectorSize_ == 512 ? 2 : 1;
    sectorsPerCluster_ = DefaultSectorsPerCluster(rangeLength_, sectorSize_);
    mftMap_.clear();
    std::vector<uint8_t> boot(std::max<size_t>(4096, sectorSize_));
    uint32_t got = 0;
    int rc = ReadSectors(static_cast<uint32_t>(boot.size() / sectorSize_), reader_, boot.data(), rangeStart_,
                         sectorSize_, &got);
    if (got == 0) return rc != 0 ? rc : kErrReadFault;
    if (IsNtfsBootSector(boot.data(), sectorSize_)) {
        ByteView b(boot.data(), boot.size());
        // Clusters of 128 KiB and more store their size as a power of two.
        const uint64_t clusterBytes = NtfsClusterBytesOf(boot.data(), sectorSize_);
        const uint64_t mftByte = clusterBytes * b.U64(48);
        const uint64_t mftSector = rangeStart_ + mftByte / sectorSize_;
        if (clusterBytes >= sectorSize_ && clusterBytes % sectorSize_ == 0)
            sectorsPerCluster_ = static_cast<uint32_t>(clusterBytes / sectorSize_);
        // Volumes of 4096-byte sectors keep records of 4096 bytes, whatever
        // sector size the source is read in.
        NtfsGeometry geometry;
        if (ParseNtfsBootSector(ByteView(boot.data(), sectorSize_), geometry) &&
            geometry.recordSize % sectorSize_ == 0 && geometry.recordSize <= kRecordReadBytes) {
            recordSize_ = geometry.recordSize;
            sectorsPerRecord_ = recordSize_ / sectorSize_;
        }
        std::vector<NtfsRun> runs;
        if (clusterBytes != 0 && mftByte / clusterBytes == b.U64(48) && ReadDataRuns(mftSector, runs) == 0)
            mftMap_[mftSector] = std::move(runs);
    }
    return 0;
}

int CProfessionalNtfsRecovery::StartScanLog(const std::string* name) {
    pending_.clear();
    pendingNumbers_.clear();
    depthCache_.clear();
    dropped_ = 0;
    std::string logName =
        name ? *name : "Pro_Ntfs_" + FastLogNameNow(static_cast<int64_t>(rangeStart_)).substr(5);
    return ReplaceLog(logName);
}

bool CProfessionalNtfsRecovery::ReadRecordAt(uint64_t sector, std::vector<uint8_t>& record) {
    record.assign(kRecordReadBytes, 0);
    uint32_t got = 0;
    // Either read only has to reach the record's end.
    static_cast<void>(ReadSectors(static_cast<uint32_t>(kRecordReadBytes / sectorSize_), reader_,
                                  record.data(), sector, sectorSize_, &got));
    if (static_cast<uint64_t>(got) * sectorSize_ < recordSize_) {
        // Near the end of the range fewer sectors remain; one record is enough.
        got = 0;
        static_cast<void>(ReadSectors(sectorsPerRecord_, reader_, record.data(), sector, sectorSize_, &got));
        if (got < sectorsPerRecord_) return false;
    }
    return true;
}

int CProfessionalNtfsRecovery::ReadDataRuns(uint64_t absoluteSector, std::vector<NtfsRun>& runs) {
    runs.clear();
    std::vector<uint8_t> record;
    if (!ReadRecordAt(absoluteSector, record)) return kNoData;
    if (ByteView(record.data(), record.size()).U32(0) != kNtfsFileMagic) return kNotARecord;
    if (!ApplyFixups(record.data(), recordSize_)) return kNoData;
    ByteView view(record.data(), recordSize_);
    NtfsRecordHeader header;
    if (!ParseRecordHeader(view, header)) return kNoData;
    NtfsAttributeWalker walker(view, header);
    NtfsAttribute attr;
    while (walker.Next(attr)) {
        if (attr.type == kNtfsAttributeList) return kErrInvalidParameter;
        if (attr.type == kNtfsData) {
            if (attr.nonResident) DecodeRuns(attr.runList, runs);
            return 0;
        }
    }
    return kNoData;
}

void CProfessionalNtfsRecovery::LearnClusterSize(const std::vector<uint8_t>& record) {
    ByteView view(record.data(), recordSize_);
    NtfsRecordHeader header;
    if (!ParseRecordHeader(view, header)) return;
    NtfsAttributeWalker walker(view, header);
    NtfsAttribute attr;
    while (walker.Next(attr)) {
        if (attr.type == kNtfsAttributeList) return;
        if (attr.type != kNtfsData) continue;
        if (!attr.nonResident) return;
        std::vector<NtfsRun> runs;
        DecodeRuns(attr.runList, runs);
        uint64_t clusters = 0;
        for (const NtfsRun& r : runs) clusters += r.length;
        if (clusters == 0) return;
        uint64_t spc = attr.allocatedSize / sectorSize_ / clusters;
        // Only a size NTFS can format with is learned; anything else is damage.
        if (spc >= 1 && spc <= 4096 && (spc & (spc - 1)) == 0)
            sectorsPerCluster_ = static_cast<uint32_t>(spc);
        return;
    }
}

CProfessionalNtfsRecovery::Placement CProfessionalNtfsRecovery::InferPlacement(
    uint32_t number, uint64_t absoluteSector) const {
    const uint64_t target = static_cast<uint64_t>(number) * sectorsPerRecord_;
    for (const auto& [recordZeroSector, runs] : mftMap_) {
        uint64_t covered = 0;
        int64_t lcn = 0;
        int64_t firstLcn = 0;
        bool first = true;
        for (const NtfsRun& run : runs) {
            if (!run.sparse) lcn += run.offset;
            if (first) firstLcn = lcn, first = false;
            uint64_t runSectors = run.length * sectorsPerCluster_;
            if (target >= covered && target < covered + runSectors) {
                int64_t expected = static_cast<int64_t>(recordZeroSector) +
                                   (lcn - firstLcn) * static_cast<int64_t>(sectorsPerCluster_) +
                                   static_cast<int64_t>(target - covered);
                if (expected == static_cast<int64_t>(absoluteSector)) {
                    Placement p;
                    uint64_t product = static_cast<uint64_t>(firstLcn) * sectorsPerCluster_;
                    p.volumeStart =
                        product == 0 || product > recordZeroSector ? rangeStart_ : recordZeroSector - product;
                    p.runs = runs;
                    return p;
                }
                break;
            }
            covered += runSectors;
        }
    }
    // No known MFT holds it: take its MFT as contiguous around the record.
    Placement p;
    p.volumeStart = rangeStart_;
    NtfsRun run;
    run.length = 0;
    int64_t mftStart = static_cast<int64_t>(absoluteSector) - static_cast<int64_t>(target) -
                       static_cast<int64_t>(rangeStart_);
    run.offset = mftStart / static_cast<int64_t>(sectorsPerCluster_);
    p.runs.push_back(run);
    return p;
}

bool CProfessionalNtfsRecovery::RecordSector(const std::vector<NtfsRun>& runs, uint32_t spc,
                                             uint64_t volumeStart, uint32_t number, uint64_t& sector) const {
    const uint64_t target = static_cast<uint64_t>(number) * sectorsPerRecord_;
    uint64_t covered = 0;
    int64_t lcn = 0;
    for (const NtfsRun& run : runs) {
        if (!run.sparse) lcn += run.offset;
        int64_t s;
        if (run.length == 0) {
            s = lcn * spc + static_cast<int64_t>(target);
        } else {
            uint64_t runSectors = run.length * spc;
            if (target >= covered + runSectors) {
                covered += runSectors;
                continue;
            }
            s = lcn * spc + static_cast<int64_t>(target - covered);
        }
        s += static_cast<int64_t>(volumeStart);
        if (s < 0) return false;
        sector = static_cast<uint64_t>(s);
        return true;
    }
    return false;
}

uint32_t CProfessionalNtfsRecovery::WalkParents(uint32_t parent, const Placement& placement) {
    // The depth of a folder is the number of folders from the root down to it;
    // a folder whose record cannot be used counts as directly below the root.
    std::vector<uint32_t> chain;
    std::set<uint32_t> visited;
    uint32_t base = 0;
    uint32_t p = parent;
    std::vector<uint8_t> record;
    while (p != kNtfsRootKey && chain.size() < kMaxParentChain) {
        auto cached = depthCache_.find({placement.volumeStart, p});
        if (cached != depthCache_.end()) {
            base = cached->second;
            break;
        }
        visited.insert(p);
        chain.push_back(p);
        if (!pendingNumbers_.count(p)) {
            if (pending_.size() < kMaxPendingFolders) {
                pending_.push_back({p, sectorsPerCluster_, placement.volumeStart, placement.runs});
                pendingNumbers_.insert(p);
            } else {
                ++dropped_;
            }
        }
        uint64_t sector = 0;
        if (!RecordSector(placement.runs, sectorsPerCluster_, placement.volumeStart, p, sector)) break;
        if (!ReadRecordAt(sector, record)) break;
        ByteView view(record.data(), recordSize_);
        if (view.U32(0) != kNtfsFileMagic || !(view.U16(22) & 0x0002) || view.U32(44) != p) break;
        if (!ApplyFixups(record.data(), recordSize_)) break;
        NtfsRecordHeader header;
        if (!ParseRecordHeader(view, header)) break;
        NtfsAttributeWalker walker(view, header);
        NtfsAttribute attr;
        std::optional<uint32_t> grandparent;
        while (walker.Next(attr)) {
            if (attr.type != kNtfsFileName) continue;
            NtfsFileName name;
            if (ParseFileName(attr.value, name)) grandparent = static_cast<uint32_t>(name.parentReference);
            break;
        }
        if (!grandparent || visited.count(*grandparent)) break;
        p = *grandparent;
    }
    if (depthCache_.size() > kMaxPendingFolders) depthCache_.clear();  // a cache, bounded like the folders
    uint32_t depth = base + static_cast<uint32_t>(chain.size());
    // Each folder of the chain is one level deeper than the next one up.
    for (size_t i = 0; i < chain.size(); ++i)
        depthCache_[{placement.volumeStart, chain[i]}] = depth - static_cast<uint32_t>(i);
    return depth;
}

void CProfessionalNtfsRecovery::MakeLostFolder(uint32_t number) {
    if (!log_) return;
    FoundItemRecord* slot = log_->AppendRecord();
    uint32_t recordNumber = slot->recordNumber;
    *slot = FoundItemRecord{};
    slot->recordNumber = recordNumber;
    slot->letter = letter_;
    slot->engineCode = static_cast<uint32_t>(EngineCode::kDeepNtfs);
    slot->isFolder = 1;
    slot->contentCheck = 1;
    slot->key = number;
    slot->clusterBytes = sectorsPerCluster_ * sectorSize_;
    std::string name = LostFolderName(number);
    slot->SetName(name);
    log_->AddChild(MakeRelationKey(kNtfsRootKey, 0), recordNumber, number, slot->name);
}

uint32_t CProfessionalNtfsRecovery::ContentCheck(const std::vector<uint8_t>& record,
                                                 const FoundItemRecord& item) {
    const std::string ext = LowerExtension(item.Name());
    ByteView view(record.data(), recordSize_);
    NtfsRecordHeader header;
    if (!ParseRecordHeader(view, header)) return 1;
    NtfsAttributeWalker walker(view, header);
    NtfsAttribute attr;
    while (walker.Next(attr)) {
        if (attr.type == kNtfsAttributeList) return 1;
        if (attr.type != kNtfsData || attr.nameLength != 0) continue;
        if (!attr.nonResident) {
            if (attr.value.Size() == 0) return 0;
            if (ext.empty()) return 1;
            return MatchesExtension(attr.value.Data(), attr.value.Size(), ext, nullptr, sectorSize_, 0) ? 1
                                                                                                        : 0;
        }
        std::vector<NtfsRun> runs;
        DecodeRuns(attr.runList, runs);
        if (runs.empty() || runs[0].sparse || runs[0].offset <= 0 || ext.empty()) return 1;
        uint64_t first =
            static_cast<uint64_t>(runs[0].offset) * item.clusterBytes / sectorSize_ + item.partitionStart;
        std::vector<uint8_t> sector(sectorSize_);
        uint32_t got = 0;
        if (ReadSectors(1, reader_, sector.data(), first, sectorSize_, &got) != 0 || got != 1) return 1;
        return MatchesExtension(sector.data(), sector.size(), ext, &reader_, sectorSize_, first) ? 1 : 0;
    }
    return 1;
}

int CProfessionalNtfsRecovery::OnFileRecord(const uint8_t* record, size_t length, uint64_t absoluteSector) {
    if (record == nullptr || length < recordSize_) return kErrInvalidParameter;
    std::vector<uint8_t> copy(record, record + recordSize_);
    return RecordEntry(copy, absoluteSector, false, 0);
}

int CProfessionalNtfsRecovery::RecordEntry(std::vector<uint8_t>& record, uint64_t absoluteSector,
                                           bool folderMode, uint32_t folderNumber) {
    if (record.size() < recordSize_) record.resize(recordSize_, 0);
    ByteView raw(record.data(), recordSize_);
    const bool isDirectory = (raw.U16(22) & 0x0002) != 0;
    if (!folderMode && isDirectory) return 0;
    if (raw.U32(0) != kNtfsFileMagic) {
        if (folderMode) MakeLostFolder(folderNumber);
        return kNotARecord;
    }
    const uint16_t firstAttribute = raw.U16(20);
    const uint32_t bytesInUse = raw.U32(24);
    if (!(firstAttribute <= bytesInUse && bytesInUse <= recordSize_) ||
        !ApplyFixups(record.data(), recordSize_)) {
        if (folderMode) MakeLostFolder(folderNumber);
        return kErrInvalidParameter;
    }
    ByteView view(record.data(), recordSize_);
    NtfsRecordHeader header;
    if (!ParseRecordHeader(view, header)) {
        if (folderMode) MakeLostFolder(folderNumber);
        return kErrInvalidParameter;
    }
    const uint32_t number = view.U32(44);

    bool haveName = false;
    NtfsFileName fileName;
    std::string name;
    bool haveDataSize = false;
    uint64_t dataSize = 0;
    NtfsAttributeWalker walker(view, header);
    NtfsAttribute attr;
    while (walker.Next(attr)) {
        if (attr.type == 0 || attr.length == 0) break;
        if (attr.type == kNtfsFileName) {
            NtfsFileName parsed;
            if (!ParseFileName(attr.value, parsed)) continue;
            if (!haveName) {
                if (folderMode && (!isDirectory || number != folderNumber)) {
                    MakeLostFolder(folderNumber != 0 ? folderNumber : number);
                    return 0;
                }
                if (number == 0 && IsMftName(parsed.name)) {
                    std::vector<NtfsRun> runs;
                    if (ReadDataRuns(absoluteSector, runs) == 0) mftMap_[absoluteSector] = std::move(runs);
                    return 0;
                }
                if (number <= kNtfsLastMetadataRecord) return 0;
                haveName = true;
                fileName = parsed;
                name = parsed.name;
            } else if (parsed.nameSpace == kNtfsWin32Name) {
                name = parsed.name;
            }
        } else if (attr.type == kNtfsData && attr.nameLength == 0 && haveName && !haveDataSize) {
            if (attr.nonResident) {
                if (attr.length > 48) dataSize = attr.realSize, haveDataSize = true;
            } else {
                dataSize = attr.value.Size();
                haveDataSize = true;
            }
        }
    }
    if (!haveName) {
        if (folderMode) MakeLostFolder(folderNumber);
        return 0;
    }
    if (!log_) return 0;

    LearnClusterSize(record);
    Placement placement = InferPlacement(number, absoluteSector);
    const uint32_t parent = static_cast<uint32_t>(fileName.parentReference);
    const uint32_t level = parent == number ? 0 : WalkParents(parent, placement);

    FoundItemRecord item;
    item.letter = letter_;
    item.engineCode = static_cast<uint32_t>(EngineCode::kDeepNtfs);
    item.isFolder = folderMode ? 1 : 0;
    item.contentCheck = 1;
    item.key = number;
    item.clusterBytes = sectorsPerCluster_ * sectorSize_;
    item.created = fileName.created;
    item.accessed = fileName.accessed;
    item.written = fileName.written;
    item.size = haveDataSize ? dataSize : fileName.realSize;
    item.dataStart = 0;
    item.location = absoluteSector;
    item.partitionStart = placement.volumeStart;
    item.SetName(name);
    if (!folderMode) item.contentCheck = ContentCheck(record, item);

    FoundItemRecord* slot = log_->AppendRecord();
    uint32_t recordNumber = slot->recordNumber;
    *slot = item;
    slot->recordNumber = recordNumber;
    RelationKey relation =
        parent == number ? MakeRelationKey(kNtfsRootKey, 0) : MakeRelationKey(parent, level);
    log_->AddChild(relation, recordNumber, folderMode ? number : 0, folderMode ? item.name : nullptr);
    return 0;
}

void CProfessionalNtfsRecovery::SaveState(CheckpointWriter& w) const {
    w.U64(pending_.size());
    for (const NtfsPendingFolder& p : pending_) {
        w.U32(p.recordNumber);
        w.U32(p.sectorsPerCluster);
        w.U64(p.volumeStart);
        WriteRuns(w, p.mftRuns);
    }
    w.U64(mftMap_.size());
    for (const auto& [sector, runs] : mftMap_) {
        w.U64(sector);
        WriteRuns(w, runs);
    }
    // The depths already worked out decide which folders a later record
    // still registers, so they are part of the state, not only a cache.
    w.U64(depthCache_.size());
    for (const auto& [key, depth] : depthCache_) {
        w.U64(key.first);
        w.U32(key.second);
        w.U32(depth);
    }
    w.U32(sectorsPerCluster_);
    w.U64(dropped_);
}

bool CProfessionalNtfsRecovery::RestoreState(CheckpointReader& r) {
    std::vector<NtfsPendingFolder> pending;
    std::map<uint64_t, std::vector<NtfsRun>> mftMap;
    std::map<std::pair<uint64_t, uint32_t>, uint32_t> depths;
    uint64_t n = 0;
    if (!r.Count(n, 24)) return false;
    pending.resize(n);
    for (NtfsPendingFolder& p : pending)
        if (!r.U32(p.recordNumber) || !r.U32(p.sectorsPerCluster) || !r.U64(p.volumeStart) ||
            !ReadRuns(r, p.mftRuns))
            return false;
    if (!r.Count(n, 16)) return false;
    for (uint64_t i = 0; i < n; ++i) {
        uint64_t sector = 0;
        std::vector<NtfsRun> runs;
        if (!r.U64(sector) || !ReadRuns(r, runs)) return false;
        mftMap[sector] = std::move(runs);
    }
    if (!r.Count(n, 16)) return false;
    for (uint64_t i = 0; i < n; ++i) {
        uint64_t volumeStart = 0;
        uint32_t number = 0, depth = 0;
        if (!r.U64(volumeStart) || !r.U32(number) || !r.U32(depth)) return false;
        depths[{volumeStart, number}] = depth;
    }
    uint32_t spc = 0;
    uint64_t dropped = 0;
    if (!r.U32(spc) || !r.U64(dropped) || spc == 0) return false;
    pending_ = std::move(pending);
    pendingNumbers_.clear();
    for (const NtfsPendingFolder& p : pending_) pendingNumbers_.insert(p.recordNumber);
    mftMap_ = std::move(mftMap);
    depthCache_ = std::move(depths);
    sectorsPerCluster_ = spc;
    dropped_ = dropped;
    return true;
}

int CProfessionalNtfsRecovery::Consolidate() {
    std::set<uint32_t> written;
    if (log_) {
        for (const DirInfoEntry& f : log_->Folders())
            written.insert(uint32_t{f.key});  // made by an earlier, resumed run
    }
    std::vector<uint8_t> record;
    for (size_t i = 0; i < pending_.size(); ++i) {
        NtfsPendingFolder folder = pending_[i];
        if (!written.insert(folder.recordNumber).second) continue;
        uint64_t sector = 0;
        if (!RecordSector(folder.mftRuns, folder.sectorsPerCluster, folder.volumeStart, folder.recordNumber,
                          sector)) {
            MakeLostFolder(folder.recordNumber);
            continue;
        }
        if (!ReadRecordAt(sector, record)) {
            // A folder record beyond the readable range is lost, not fatal.
            MakeLostFolder(folder.recordNumber);
            continue;
        }
        uint32_t savedSpc = sectorsPerCluster_;
        sectorsPerCluster_ = folder.sectorsPerCluster;
        RecordEntry(record, sector, true, folder.recordNumber);
        sectorsPerCluster_ = savedSpc;
    }
    pending_.clear();
    pendingNumbers_.clear();
    return log_ ? log_->Flush() : 0;
}

int CProfessionalNtfsRecovery::ReadVolumeBytes(uint64_t volumeStart, uint64_t offset, void* buffer,
                                               size_t length) {
    if (length == 0) return kSuccess;
    const uint64_t absolute = volumeStart * sectorSize_ + offset;
    const uint64_t first = absolute / sectorSize_;
    const uint64_t last = (absolute + length + sectorSize_ - 1) / sectorSize_;
    uint32_t got = 0;
    if (absolute % sectorSize_ == 0 && length % sectorSize_ == 0) {
        int rc = ReadSectors(static_cast<uint32_t>(last - first), reader_, buffer, first, sectorSize_, &got);
        return got == last - first ? kSuccess : (rc != 0 ? rc : kErrReadFault);
    }
    std::vector<uint8_t> bounce(static_cast<size_t>((last - first) * sectorSize_));
    int rc =
        ReadSectors(static_cast<uint32_t>(last - first), reader_, bounce.data(), first, sectorSize_, &got);
    if (got != last - first) return rc != 0 ? rc : kErrReadFault;
    std::memcpy(buffer, bounce.data() + (absolute - first * sectorSize_), length);
    return kSuccess;
}

int CProfessionalNtfsRecovery::CopyFileData(const FoundItemRecord& record, const CopyTarget& target) {
    std::vector<uint8_t> bytes;
    if (!ReadRecordAt(record.location, bytes)) return kErrReadFault;
    if (ByteView(bytes.data(), bytes.size()).U32(0) != kNtfsFileMagic ||
        !ApplyFixups(bytes.data(), recordSize_))
        return kErrReadFault;
    ByteView view(bytes.data(), recordSize_);
    NtfsRecordHeader header;
    if (!ParseRecordHeader(view, header)) return kErrReadFault;
    NtfsAttributeWalker walker(view, header);
    NtfsAttribute attr;
    while (walker.Next(attr)) {
        if (attr.type == kNtfsAttributeList) return 0;
        if (attr.type != kNtfsData || attr.nameLength != 0) continue;
        NtfsDataLayout layout;
        NtfsStreamVolume volume;
        if (attr.nonResident) {
            if (record.clusterBytes == 0 || record.clusterBytes % sectorSize_ != 0) return kErrReadFault;
            // The volume as far as the scanned range goes: runs past it are damage.
            const uint64_t volumeStart = record.partitionStart, rangeEnd = rangeStart_ + rangeLength_;
            if (volumeStart >= rangeEnd) return kErrReadFault;
            volume.clusterBytes = record.clusterBytes;
            volume.bytesPerSector = sectorSize_;
            volume.volumeBytes = (rangeEnd - volumeStart) * sectorSize_;
            volume.read = [this, volumeStart](uint64_t offset, void* buffer, size_t length) {
                return ReadVolumeBytes(volumeStart, offset, buffer, length);
            };
            AddNtfsDataPiece(attr, volume.volumeBytes / volume.clusterBytes, layout);
        } else {
            SetResidentNtfsData(attr, layout);
        }
        // The size the scan listed is the size recovered.
        layout.size = record.size;
        layout.initializedSize = std::min<uint64_t>(layout.initializedSize, layout.size);
        const uint64_t size = layout.size;
        uint64_t written = 0;
        return ReadNtfsData(layout, volume, [&](const uint8_t* bytes, size_t length) {
            int rc = target.write(bytes, length);
            if (rc != 0) return rc;
            written += length;
            return layout.resident ? 0 : target.progress(static_cast<int>(written * 100 / size));
        });
    }
    return 0;
}

}  // namespace sorvane
