// Deterministic mutations of realistic documents: the reader must never crash, never leak, and leave its
// target unchanged whenever it fails. Allocations are counted through the linker's --wrap of the C
// allocator, which json-parser and operator new both end in.

#include "message/CMessageObject.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <random>

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

const char* const kBadUtf8[] = {"\xc3", "\xff", "\xed\xa0\x80", "\xf4\x90\x80\x80", "\xc0\xaf", "\x80"};
const char* const kHugeNumbers[] = {"99999999999999999999999999", "-9223372036854775809", "1e99999",
                                    "1.7976931348623157e309", "0.0000000000000000000000001e-400"};

std::string Mutate(std::string text, std::mt19937& random)
{
    const auto at = [&](size_t size) { return std::uniform_int_distribution<size_t>(0, size)(random); };
    switch (random() % 8)
    {
    case 0: // truncation
        text.resize(at(text.size()));
        break;
    case 1: // flipped bytes
        for (int n = 1 + random() % 3; n > 0 && !text.empty(); --n)
            text[at(text.size() - 1)] ^= static_cast<char>(1 << (random() % 8));
        break;
    case 2: // inserted brackets
        for (int n = 1 + random() % 4; n > 0; --n)
            text.insert(at(text.size()), 1, "[]{}\",:"[random() % 7]);
        break;
    case 3: // invalid UTF-8
        text.insert(at(text.size()), kBadUtf8[random() % 6]);
        break;
    case 4: // huge numbers
        if (const size_t colon = text.find(':', at(text.size())); colon != std::string::npos)
            text.insert(colon + 1, kHugeNumbers[random() % 5]);
        break;
    case 5: // deep nesting
    {
        const size_t depth = 400 + random() % 800;
        const size_t where = at(text.size());
        text.insert(where, std::string(depth, random() % 2 ? '[' : '{'));
        if (random() % 2)
            text.insert(where + depth, std::string(depth, ']'));
        break;
    }
    case 6: // a removed byte
        if (!text.empty())
            text.erase(at(text.size() - 1), 1);
        break;
    default: // NUL bytes and escapes
        text.insert(at(text.size()), random() % 2 ? std::string("\\u0000") : std::string(1, '\0'));
        break;
    }
    return text;
}
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

TEST(JsonRobustnessTest, MutatedDocumentsNeverCrashLeakOrHalfFillTheTarget)
{
    // The counting must see our own allocations, or the leak check below proves nothing.
    const long before = g_liveBlocks;
    {
        CMessageObject probe;
        ASSERT_TRUE(probe.FromUtf8Json(kDocuments[0]));
        EXPECT_GT(g_liveBlocks, before);
    }
    EXPECT_EQ(g_liveBlocks, before);

    std::mt19937 random(20261206);
    const auto fresh = [] {
        CMessageObject target(L"target");
        target.AddString(L"kept", L"value");
        target.AddObject(L"nested", true)->AddInt32(L"n", 1);
        return target;
    };
    CMessageObject target = fresh();
    std::wstring expected;
    ASSERT_TRUE(target.Serialize(expected));

    constexpr int kMutations = 120000;
    int failures = 0;
    for (int i = 0; i < kMutations; ++i)
    {
        const std::string input = Mutate(kDocuments[i % 4], random);
        const long live = g_liveBlocks;
        {
            // Whatever was read can be written and read again.
            CMessageObject read, again;
            std::string text;
            if (read.FromUtf8Json(input))
            {
                ASSERT_TRUE(read.SerializeUtf8(text) && again.FromUtf8Json(text)) << input << "\nwritten: " << text;
            }
        }
        ASSERT_EQ(g_liveBlocks, live) << "leak reading: " << input;

        if (target.FromUtf8Json(input))
        {
            target = fresh();
            continue;
        }
        ++failures;
        std::wstring now;
        ASSERT_TRUE(target.Serialize(now));
        ASSERT_EQ(now, expected) << input; // the name included
        ASSERT_EQ(target.m_type, Undefined);
    }
    // Most mutations must break the document, or the test exercises little.
    EXPECT_GT(failures, kMutations / 2);
}
