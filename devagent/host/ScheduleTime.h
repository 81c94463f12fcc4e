#pragma once
// Wall-clock times of the development scheduler: milliseconds since 1601-01-01 UTC (file time / 10000).

#include <cstdint>
#include <string>

std::uint64_t UtcNowMs();

// "YYYY-MM-DD hh:mm:ss" or "YYYY-MM-DDThh:mm:ss", optionally ".fff", optionally "Z". Without "Z" the time
// is local when local is true, UTC otherwise. False, with ms untouched, for any other text or a date that
// does not exist.
[[nodiscard]] bool ParseScheduleTime(const std::wstring& text, bool local, std::uint64_t& ms);

// "YYYY-MM-DDThh:mm:ss.fffZ"; ParseScheduleTime reads it back.
std::wstring FormatScheduleTime(std::uint64_t ms);
