// The readers of what other components hand the plug-in (tracking files, the events' payloads), fed seeded
// mutations of the inputs the other suites use. Fuzz.h says what each case checks and how to run it longer.

#include "Fuzz.h"

#include "message/CMessageObject.h"
#include "telemetry/TrackingRecord.h"

#include <gtest/gtest.h>

namespace
{

// A tracking file as the writing component would make it from the record.
std::string Written(const TrackingRecord& record)
{
    CMessageObject document;
    document.AddString(L"TrackIndex", record.trackIndex);
    CMessageObject* pairs = document.AddArray(L"CustomData");
    for (const auto& [name, value] : record.customPairs)
    {
        CMessageObject pair;
        pair.AddString(L"Name", name);
        pair.AddString(L"Value", value);
        pairs->AddObjectCopy(pair);
    }
    std::string text;
    EXPECT_TRUE(document.SerializeUtf8(text));
    return text;
}

} // namespace

TEST(EventReadersFuzzTest, TrackingFile)
{
    const std::vector<std::string> seeds = {
        R"({"TrackIndex":"7","CustomData":[{"Name":"a","Value":"1"},{"Name":"b\u00e9","Value":"x\ny"}]})",
        R"({"TrackIndex":"","CustomData":[]})",
        R"({"CustomData":[{"Name":"n","Value":""},{"Value":"v"},7,[{"Name":"x","Value":"y"}]],"TrackIndex":"idx"})",
        "{\"TrackIndex\":\"\xe2\x82\xac\",\"Extra\":{\"CustomData\":1}}",
    };
    CFuzzRun run("tracking file");
    run.ForEachInput([&](int) {
        const std::string input = run.Json(seeds);
        TrackingRecord record{L"untouched", {{L"n", L"v"}}};
        const DWORD result = ParseTrackingRecord(input, record);
        run.Outcome(result);
        if (result != ERROR_SUCCESS)
        {
            run.Expect(record.trackIndex == L"untouched" && record.customPairs.size() == 1, "a failed read changed the record");
            return;
        }
        for (const auto& [name, value] : record.customPairs)
            run.Expect(!name.empty() && !value.empty(), "a pair with an empty name or value was kept");
        TrackingRecord again;
        run.Expect(ParseTrackingRecord(Written(record), again) == ERROR_SUCCESS && again.trackIndex == record.trackIndex &&
                       again.customPairs == record.customPairs,
                   "the record written back reads differently");
    });
    EXPECT_EQ(run.Faults(), 0);
    EXPECT_GE(run.Outcomes(), 3u);
}
