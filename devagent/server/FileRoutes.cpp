#include "FileRoutes.h"

#include "HttpText.h"

#include "platform/Files.h"
#include "platform/Win.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace
{

std::wstring WithBackslash(std::wstring folder)
{
    if (!folder.empty() && folder.back() != L'\\' && folder.back() != L'/')
        folder += L'\\';
    return folder;
}

bool ModifiedTime(const std::wstring& path, std::time_t& modified)
{
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!::GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data) ||
        (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
        return false;
    const unsigned long long ticks = (static_cast<unsigned long long>(data.ftLastWriteTime.dwHighDateTime) << 32) |
                                     data.ftLastWriteTime.dwLowDateTime;
    modified = static_cast<std::time_t>((ticks - 116444736000000000ULL) / 10000000ULL);
    return true;
}

// Days since 1970-01-01 of a civil date, and back (proleptic Gregorian).
long long DaysFromCivil(long long y, unsigned m, unsigned d)
{
    y -= m <= 2;
    const long long era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<long long>(doe) - 719468;
}

void CivilFromDays(long long z, long long& y, unsigned& m, unsigned& d)
{
    z += 719468;
    const long long era = (z >= 0 ? z : z - 146096) / 146097;
    const unsigned doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    d = doy - (153 * mp + 2) / 5 + 1;
    m = mp < 10 ? mp + 3 : mp - 9;
    y = static_cast<long long>(yoe) + era * 400 + (m <= 2);
}

const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
const char* const kWeekdays[] = {"Thu", "Fri", "Sat", "Sun", "Mon", "Tue", "Wed"}; // 1970-01-01 was a Thursday

} // namespace

CScriptedReply ServeFile(const std::string& prefix, const std::wstring& folder, const CRecordedRequest& rec)
{
    const std::string rest = PercentDecode(rec.path.substr(prefix.size()));
    std::wstring relative;
    for (std::size_t start = 0; start <= rest.size();)
    {
        const std::size_t end = std::min(rest.find('/', start), rest.size());
        const std::string segment = rest.substr(start, end - start);
        start = end + 1;
        if (segment.empty() || segment == ".")
            continue;
        if (segment == ".." || segment.find_first_of("\\:") != std::string::npos)
            return TextReply(403, "Outside the served folder");
        relative += (relative.empty() ? L"" : L"\\") + Utf8ToWide(segment);
    }
    const std::wstring file = WithBackslash(folder) + relative;

    std::time_t modified = 0;
    if (relative.empty() || !ModifiedTime(file, modified))
        return TextReply(404, "No such file");
    CScriptedReply reply;
    reply.headers.emplace_back("Last-Modified", FormatHttpDate(modified));
    std::time_t since = 0;
    if (ParseHttpDate(rec.Header("If-Modified-Since"), since) && modified <= since)
    {
        reply.status = 304;
        return reply;
    }
    if (ReadWholeFile(file, reply.body, FILE_SHARE_READ | FILE_SHARE_WRITE) != ERROR_SUCCESS)
        return TextReply(500, "Cannot read the file");
    reply.contentType = "application/octet-stream";
    return reply;
}

CScriptedReply StoreUpload(const std::wstring& folder, const CScriptedReply& reply, CRecordedRequest& rec)
{
    std::string name = PercentDecode(rec.path.substr(rec.path.rfind('/') + 1));
    for (auto& c : name)
    {
        if (std::strchr("\\/:*?\"<>|", c) || static_cast<unsigned char>(c) < 0x20)
            c = '_';
    }
    if (name.empty() || name == "." || name == "..")
        name = "upload";
    const std::wstring base = WithBackslash(folder);
    ::CreateDirectoryW(base.c_str(), nullptr);
    const std::wstring wideName = Utf8ToWide(name);
    std::wstring file = base + wideName;
    for (int i = 1; ::GetFileAttributesW(file.c_str()) != INVALID_FILE_ATTRIBUTES; ++i)
        file = base + wideName + L"." + std::to_wstring(i);
    if (WriteWholeFile(file, rec.body) != ERROR_SUCCESS)
        return TextReply(500, "Cannot store the upload");
    rec.storedFile = file;
    return reply;
}

std::string FormatHttpDate(std::time_t utc)
{
    const long long t = static_cast<long long>(utc);
    long long days = t / 86400;
    long long secs = t % 86400;
    if (secs < 0)
    {
        secs += 86400;
        --days;
    }
    long long y = 0;
    unsigned m = 0, d = 0;
    CivilFromDays(days, y, m, d);
    const int weekday = static_cast<int>(((days % 7) + 7) % 7);
    char text[40];
    std::snprintf(text, sizeof(text), "%s, %02u %s %04lld %02lld:%02lld:%02lld GMT", kWeekdays[weekday], d,
                  kMonths[m - 1], y, secs / 3600, secs / 60 % 60, secs % 60);
    return text;
}

bool ParseHttpDate(const std::string& text, std::time_t& utc)
{
    char weekday[4] = {}, month[4] = {}, zone[4] = {};
    unsigned d = 0, hh = 0, mm = 0, ss = 0;
    int y = 0;
    if (std::sscanf(text.c_str(), "%3s, %u %3s %d %u:%u:%u %3s", weekday, &d, month, &y, &hh, &mm, &ss, zone) != 8 ||
        std::strlen(weekday) != 3 || std::strcmp(zone, "GMT") != 0 || d < 1 || d > 31 || hh > 23 || mm > 59 || ss > 60)
        return false;
    const auto it =
        std::find_if(std::begin(kMonths), std::end(kMonths), [&](const char* m) { return std::strcmp(m, month) == 0; });
    if (it == std::end(kMonths))
        return false;
    const unsigned m = static_cast<unsigned>(it - std::begin(kMonths)) + 1;
    const long long seconds = DaysFromCivil(y, m, d) * 86400 + hh * 3600 + mm * 60 + ss;
    if (static_cast<long long>(static_cast<std::time_t>(seconds)) != seconds)
        return false; // past 2038 where time_t has 32 bits
    utc = static_cast<std::time_t>(seconds);
    return true;
}
