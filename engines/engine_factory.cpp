#include "engines/engine_factory.h"

#include "engines/professional_recovery.h"
#include "platform/result_codes.h"

namespace sorvane {

std::unique_ptr<IFileRecoveryParse> CreateRecoveryEngine(const ScanSource& source, bool deep) {
    if (!source.reader.IsOpen()) return nullptr;
    std::unique_ptr<IFileRecoveryParse> engine;
    // Every deep request gets the coordinator, whatever the volume holds:
    // raw carving works even where no file system is recognised, and around
    // sectors that cannot be read.
    if (deep)
        engine = std::make_unique<CProfessionalRecovery>();
    else
        // A start with unreadable sectors still names its file system (or its
        // boot sector's copy does): the quick engine reads what it can.
        engine = CreateQuickEngine(source.kind);
    if (!engine) return nullptr;
    // A failed opening is the engine's to report: its scan fails or finds nothing.
    static_cast<void>(engine->Open(source));
    return engine;
}

std::unique_ptr<IFileRecoveryParse> CreateRecoveryEngine(int driveIndex, uint64_t partitionStart,
                                                         uint64_t partitionSectors, uint16_t letter,
                                                         bool deep) {
    ScanSource source;
    if (OpenDriveSource(driveIndex, partitionStart, partitionSectors, letter, source) != kSuccess)
        return nullptr;
    return CreateRecoveryEngine(source, deep);
}

std::unique_ptr<IFileRecoveryParse> CreateRecoveryEngineForImage(const std::filesystem::path& imagePath,
                                                                 uint16_t letter, bool deep) {
    ScanSource source;
    if (OpenImageSource(imagePath, letter, source) != kSuccess) return nullptr;
    return CreateRecoveryEngine(source, deep);
}

ScanSource ImageSource(const std::filesystem::path& imagePath, uint16_t letter) {
    ScanSource source;
    // A source that did not open is handed on as it is: the engine then says so.
    static_cast<void>(OpenImageSource(imagePath, letter, source));
    return source;
}

int OpenOnDrive(IFileRecoveryParse& engine, int driveIndex, uint64_t start, uint64_t length,
                uint16_t letter) {
    ScanSource source;
    if (int rc = OpenDriveSource(driveIndex, start, length, letter, source); rc != kSuccess) return rc;
    return engine.Open(source);
}

int OpenOnImage(IFileRecoveryParse& engine, const std::filesystem::path& imagePath, uint16_t letter) {
    ScanSource source;
    if (int rc = OpenImageSource(imagePath, letter, source); rc != kSuccess) return rc;
    return engine.Open(source);
}

}  // namespace sorvane
