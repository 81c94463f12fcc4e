#pragma once
// Small text helpers for what goes on the wire.

#include "platform/Win.h"

#include <string>

// Standard Base64 with padding; empty for no bytes.
std::string Base64Of(const void* data, size_t length);
// Percent-encoded UTF-8: RFC 3986 unreserved characters stay, everything else becomes %XX. With segment
// set, a text that is "." or ".." is encoded too, so that it cannot climb out of its place in a path.
std::wstring PercentEncode(const std::wstring& text, bool segment);
