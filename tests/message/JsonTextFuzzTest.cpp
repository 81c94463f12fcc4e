// The JSON reader under mutations of realistic documents (Fuzz.h): it must never leak, leave its target
// unchanged whenever it fails, and read back what it writes. Allocations are counted through the linker's
// --wrap of the C allocator, which json-parser and operator new both end in.

#include "Fuzz.h"

#include "message/CMessageObject.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cctype>
#include <cstdio>
#include <cstdlib>

namespace
{
std::atomic<long> g_liveBlocks{0};

void* Counted(void* p)
{
    g_liveBlocks += p ? 1 : 0;
    return p;
}

const char* const kDocuments[] = {
    R"({"FileUpload":{"FilePath":"C:\\ProgramData\\Agent\\Messages\\f.zip","Status":"Failed",)"
    R"("MetaData":{"Kind":"Logs","Size":1234},"OperationId":"6f1c","Owner":"Agent","RetryCount":2,)"
    R"("KeepFile":true}})",
    R"({"TrackIndex":7,"CustomPairs":[{"Name":"a","Value":"1"},{"Name":"b\u00e9","Value":"x\ny"}],)"
    R"("Time":1.5e3,"Ok":null,"List":[[],[{}],[1,-2,3.25]]})",
    R"({"PluginExecute":{"PluginId":"Telemetry.Inventory","Version":"1.2.3","Reuse":false,)"
    R"("Cartridge":{"SourceMd5":"0cc175b9c0f1b6a831c399e269772661","Files":["a.dll","b.exe"]}}})",
    R"([{"Actions":[{"Name":"Reboot","Args":{}}],"Code":-1,"Text":"\u20ac \ud83d\ude00 \"q\""}])",
};

} // namespace

extern "C"
{
void* __real_malloc(size_t);
void* __real_calloc(size_t, size_t);
void* __real_realloc(void*, size_t);
void __real_free(void*);

void* __wrap_malloc(size_t size) { return Counted(__real_malloc(size)); }
void* __wrap_calloc(size_t count, size_t size) { return Counted(__real_calloc(count, size)); }

void* __wrap_realloc(void* old, size_t size)
{
    void* p = __real_realloc(old, size);
    g_liveBlocks += (!old && p ? 1 : 0) - (old && !size ? 1 : 0);
    return p;
}

void __wrap_free(void* p)
{
    g_liveBlocks -= p ? 1 : 0;
    __real_free(p);
}
}

TEST(JsonTextFuzzTest, MutatedDocumentsNeverLeakHalfFillTheTargetOrReadBackDifferently)
{
    // The counting must see our own allocations, or the leak check below proves nothing.
    const long before = g_liveBlocks;
    {
        CMessageObject probe;
        ASSERT_TRUE(probe.FromUtf8Json(kDocuments[0]));
        EXPECT_GT(g_liveBlocks, before);
    }
    EXPECT_EQ(g_liveBlocks, before);

    const auto fresh = [] {
        CMessageObject target(L"target");
        target.AddString(L"kept", L"value");
        target.AddObject(L"nested", true)->AddInt32(L"n", 1);
        return target;
    };
    CMessageObject target = fresh();
    std::wstring expected;
    ASSERT_TRUE(target.Serialize(expected));

    const std::vector<std::string> seeds(std::begin(kDocuments), std::end(kDocuments));
    CFuzzRun run("JSON text");
    run.ForEachInput([&](int) {
        const std::string input = run.Json(seeds);
        const long live = g_liveBlocks;
        const char* broken = nullptr;
        char where[200] = "";   // no allocation outlives the scope the leak check measures
        {
            // Whatever was read is written, and the written text reads back to itself.
            CMessageObject read, again;
            std::string text, textAgain;
            if (read.FromUtf8Json(input))
            {
                if (!read.SerializeUtf8(text))
                    broken = "what was read cannot be written";
                else if (!again.FromUtf8Json(text) || !again.SerializeUtf8(textAgain))
                    broken = "what was written cannot be read";
                else if (textAgain != text)
                {
                    // json-parser reads doubles of more than 15 digits or with large exponents only nearly: a
                    // difference inside a double (written with six decimals, so holding a point) is its
                    // rounding, not ours. Integers are read exactly and must come back the same.
                    const auto inDouble = [](const std::string& written, size_t at) {
                        const auto numeral = [&](size_t i) {
                            return std::isdigit(static_cast<unsigned char>(written[i])) || written[i] == '.';
                        };
                        size_t begin = at, end = at;
                        while (begin > 0 && numeral(begin - 1))
                            --begin;
                        while (end < written.size() && numeral(end))
                            ++end;
                        return end > at && written.find('.', begin) < end;
                    };
                    size_t at = 0;
                    while (at < text.size() && at < textAgain.size() && text[at] == textAgain[at])
                        ++at;
                    if (!inDouble(text, at) || !inDouble(textAgain, at))
                    {
                        broken = "what was written reads back differently";
                        std::snprintf(where, sizeof where, " at %zu: %.60s / %.60s", at, text.c_str() + at,
                                      textAgain.c_str() + at);
                    }
                }
            }
        }
        run.Expect(g_liveBlocks == live, "a leak");
        if (broken)
            run.Fault(std::string(broken) + where);

        if (target.FromUtf8Json(input))
        {
            run.Outcome("read");
            target = fresh();
            return;
        }
        run.Outcome("refused");
        std::wstring now;
        run.Expect(target.Serialize(now) && now == expected && target.m_type == Undefined, "a refused text changed the target");
    });
    EXPECT_EQ(run.Faults(), 0);
    EXPECT_EQ(run.Outcomes(), 2u);
}
