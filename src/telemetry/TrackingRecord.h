#pragma once
// A tracking file: UTF-8 JSON that another agent component writes for one hit,
//     {"TrackIndex": "...", "CustomData": [{"Name": "...", "Value": "..."}, ...]}
// Every failure is traced; outputs are left as they were on failure.

#include "platform/CUniqueHandle.h"
#include "platform/Win.h"

#include <string>
#include <utility>
#include <vector>

struct TrackingRecord
{
    std::wstring trackIndex;
    std::vector<std::pair<std::wstring, std::wstring>> customPairs; // file order
};

// A tracking file from its reading to its removal. It stays open in between, with delete access where the file
// allows it, so that the file removed is the one whose hit was sent, without opening it again. A link is read
// through and removed by name, itself and not what it names. The file is closed when its owner goes; a file that
// was not removed stays.
class CTrackingFile
{
public:
    // The whole file. ERROR_FILE_NOT_FOUND when it does not exist; ERROR_READ_FAULT when it cannot be opened for
    // reading (another holder may refuse to share it), is 4 GiB or more, or cannot be held in memory or read
    // whole.
    [[nodiscard]] DWORD Read(const std::wstring& path, std::string& bytes);
    // After a Read that succeeded: removes the file and closes it; ERROR_SUCCESS, or the Windows error when it
    // stays.
    [[nodiscard]] DWORD Remove();

private:
    std::wstring m_path;
    CFileHandle m_file;
    bool m_deletable = false; // opened with delete access
};

// ERROR_INVALID_DATA when the bytes are not JSON; ERROR_INVALID_INDEX when "TrackIndex" is missing or not a
// text (an empty text is an index). A "CustomData" that is not an array holds no pairs; elements that are not
// objects, and pairs whose "Name" or "Value" is missing, not a text or empty, are left out.
[[nodiscard]] DWORD ParseTrackingRecord(const std::string& bytes, TrackingRecord& record);

// Both, in order: the code of the first that fails. file holds the tracking file afterwards.
[[nodiscard]] DWORD ReadTrackingRecord(const std::wstring& path, CTrackingFile& file, TrackingRecord& record);
