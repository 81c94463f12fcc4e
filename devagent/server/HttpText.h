#pragma once
// Small text pieces of HTTP that the fixture's parts share: header names compare without case, values are
// trimmed of blanks, targets and file names are percent-decoded. Texts are UTF-8.

#include "platform/TextUtil.h"   // Utf8ToWide for file names and URLs

#include <string>

bool EqualsNoCase(const std::string& a, const std::string& b);
bool StartsWithNoCase(const std::string& text, const std::string& prefix);
// Without leading and trailing spaces and tabs.
std::string Trim(const std::string& text);
// "%41" becomes "A"; a '%' without two hex digits after it, and '+', stay as they are.
std::string PercentDecode(const std::string& text);
