// FILETIME values: 100-ns ticks since 1601-01-01, as found records store them.
#pragma once

#include <cstdint>
#include <ctime>
#include <string>

namespace sorvane {

inline constexpr uint64_t kFileTimeUnixEpoch = 116444736000000000ULL;  // 1970-01-01 in FILETIME ticks

uint64_t FileTimeFromUnix(int64_t seconds, uint32_t nanoseconds = 0);
// Seconds since 1970 for a FILETIME, by plain arithmetic (no time-zone shift).
int64_t UnixFromFileTime(uint64_t fileTime);

// A FAT date and time packed into a FILETIME as the wall-clock time they are on
// disk, with no time-zone shift. Returns 0 for a date of 0 or an invalid field.
uint64_t FileTimeFromFatDateTime(uint16_t date, uint16_t time, uint8_t tenMs = 0);
// The real instant of a wall-clock FILETIME read as local time (for setting the
// times of a recovered file from a FAT record).
int64_t UnixFromLocalWallClock(uint64_t fileTime);

// The calendar fields of an instant in the local time zone (thread-safe).
std::tm LocalTimeOf(std::time_t instant);

// "YYYY-MM-DD HH:MM:SS" of a FILETIME taken as it stands (UTC for NTFS, wall clock for FAT).
std::string FormatFileTime(uint64_t fileTime);
// ISO 8601 in this machine's time zone with its offset, e.g.
// "2009-08-05T16:22:10+02:00", for a number of seconds since 1970 (UTC).
std::string FormatIsoTime(int64_t unixSeconds);
// Parses "YYYY-MM-DD[ HH:MM[:SS]]" (or with 'T') into a FILETIME; false when malformed.
[[nodiscard]] bool ParseFileTime(const std::string& text, uint64_t& fileTime);

}  // namespace sorvane
