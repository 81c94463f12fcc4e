#pragma once
// Downloads from and uploads into folders on disk, and the HTTP dates that downloads carry.

#include "CReplyScript.h"

#include <ctime>
#include <string>

// GET/HEAD of prefix + rest: the file folder\rest (percent-decoded, '/' as '\'), with Last-Modified from the
// file's time; If-Modified-Since at or after it gives 304 without body. 404 when the file is not there (or is
// a folder), 403 for a path that would leave the folder.
CScriptedReply ServeFile(const std::string& prefix, const std::wstring& folder, const CRecordedRequest& rec);

// Writes rec.body into folder (made when missing) under the last path segment, with characters that file
// names refuse as '_' and ".1", ".2", ... appended when the name is taken; sets rec.storedFile and answers
// with reply. 500 when the file cannot be written.
CScriptedReply StoreUpload(const std::wstring& folder, const CScriptedReply& reply, CRecordedRequest& rec);

// IMF-fixdate ("Sun, 06 Nov 1994 08:49:37 GMT"). Parsing refuses other forms, and dates that time_t cannot
// hold, leaving utc as it was.
std::string FormatHttpDate(std::time_t utc);
bool ParseHttpDate(const std::string& text, std::time_t& utc);
