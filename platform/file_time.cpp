#include "platform/file_time.h"

#include <cstdio>
#include <ctime>

namespace sorvane {
namespace {

// Days since 1970-01-01 for a proleptic Gregorian date.
int64_t DaysFromCivil(int64_t y, unsigned m, unsigned d) {
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

void CivilFromDays(int64_t z, int64_t& y, unsigned& m, unsigned& d) {
    z += 719468;
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const unsigned doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    y = static_cast<int64_t>(yoe) + era * 400;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    d = doy - (153 * mp + 2) / 5 + 1;
    m = mp < 10 ? mp + 3 : mp - 9;
    y += m <= 2;
}

}  // namespace

uint64_t FileTimeFromUnix(int64_t seconds, uint32_t nanoseconds) {
    int64_t ticks = seconds * 10000000 + nanoseconds / 100;
    if (ticks < -static_cast<int64_t>(kFileTimeUnixEpoch)) return 0;
    return kFileTimeUnixEpoch + static_cast<uint64_t>(ticks);
}

int64_t UnixFromFileTime(uint64_t fileTime) {
    return (static_cast<int64_t>(fileTime / 10000000)) - static_cast<int64_t>(kFileTimeUnixEpoch / 10000000);
}

uint64_t FileTimeFromFatDateTime(uint16_t date, uint16_t time, uint8_t tenMs) {
    unsigned day = date & 0x1F, month = (date >> 5) & 0x0F;
    int64_t year = 1980 + (date >> 9);
    unsigned second = (time & 0x1F) * 2, minute = (time >> 5) & 0x3F, hour = time >> 11;
    if (date == 0 || day == 0 || month == 0 || month > 12 || hour > 23 || minute > 59 || second > 59)
        return 0;
    int64_t seconds = DaysFromCivil(year, month, day) * 86400 + hour * 3600 + minute * 60 + second;
    uint32_t extra = tenMs <= 199 ? tenMs : 0;  // 10-ms units, up to 1.99 s
    seconds += extra / 100;
    return FileTimeFromUnix(seconds, (extra % 100) * 10000000u);
}

int64_t UnixFromLocalWallClock(uint64_t fileTime) {
    int64_t wall = UnixFromFileTime(fileTime);
    int64_t days = wall >= 0 ? wall / 86400 : (wall - 86399) / 86400;
    int64_t rest = wall - days * 86400;
    int64_t y;
    unsigned m, d;
    CivilFromDays(days, y, m, d);
    std::tm tm{};
    tm.tm_year = static_cast<int>(y - 1900);
    tm.tm_mon = static_cast<int>(m) - 1;
    tm.tm_mday = static_cast<int>(d);
    tm.tm_hour = static_cast<int>(rest / 3600);
    tm.tm_min = static_cast<int>(rest / 60 % 60);
    tm.tm_sec = static_cast<int>(rest % 60);
    tm.tm_isdst = -1;
    return static_cast<int64_t>(std::mktime(&tm));
}

std::string FormatIsoTime(int64_t unixSeconds) {
    const std::time_t t = static_cast<std::time_t>(unixSeconds);
    std::tm local{};
#if defined(_WIN32)
    if (localtime_s(&local, &t) != 0) return "";
#else
    if (!localtime_r(&t, &local)) return "";
#endif
    // The offset is what the local calendar time is ahead of UTC.
    const int64_t asUtc = DaysFromCivil(local.tm_year + 1900, static_cast<unsigned>(local.tm_mon + 1),
                                        static_cast<unsigned>(local.tm_mday)) *
                              86400 +
                          local.tm_hour * 3600 + local.tm_min * 60 + local.tm_sec;
    const int64_t offset = asUtc - unixSeconds;
    const int64_t minutes = (offset < 0 ? -offset : offset) / 60;
    char text[64];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d%c%02d:%02d", local.tm_year + 1900,
                  local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec,
                  offset < 0 ? '-' : '+', static_cast<int>(minutes / 60), static_cast<int>(minutes % 60));
    return text;
}

std::string FormatFileTime(uint64_t fileTime) {
    if (fileTime == 0) return "";
    int64_t t = UnixFromFileTime(fileTime);
    int64_t days = t >= 0 ? t / 86400 : (t - 86399) / 86400;
    int64_t rest = t - days * 86400;
    int64_t y;
    unsigned m, d;
    CivilFromDays(days, y, m, d);
    char text[40];
    std::snprintf(text, sizeof text, "%04lld-%02u-%02u %02lld:%02lld:%02lld", static_cast<long long>(y), m, d,
                  static_cast<long long>(rest / 3600), static_cast<long long>(rest / 60 % 60),
                  static_cast<long long>(rest % 60));
    return text;
}

bool ParseFileTime(const std::string& text, uint64_t& fileTime) {
    int y = 0, mo = 0, d = 0, h = 0, mi = 0, s = 0;
    char sep = 0;
    int n = std::sscanf(text.c_str(), "%d-%d-%d%c%d:%d:%d", &y, &mo, &d, &sep, &h, &mi, &s);
    if (n != 3 && n < 6) return false;
    if (n > 3 && sep != ' ' && sep != 'T') return false;
    if (mo < 1 || mo > 12 || d < 1 || d > 31 || h < 0 || h > 23 || mi < 0 || mi > 59 || s < 0 || s > 59)
        return false;
    int64_t seconds = DaysFromCivil(y, static_cast<unsigned>(mo), static_cast<unsigned>(d)) * 86400 +
                      h * 3600 + mi * 60 + s;
    fileTime = FileTimeFromUnix(seconds);
    return true;
}

}  // namespace sorvane
