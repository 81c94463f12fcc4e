#include "TraceCapture.h"

#include <gtest/gtest.h>

TRACE_UNIT("1554e490-6cb5-4520-b991-b68c30ff62a1");

namespace
{

constexpr GUID kProviderUnit = trace::ParseGuid("0244800d-fde3-4e18-b4dd-b2a6c0af4fe2");

int g_evaluations = 0;
int Counted(int value)
{
    ++g_evaluations;
    return value;
}

// One trace point of each level, on the given flag.
void TraceAllLevels(ULONG flag)
{
    TRACE_ERROR(flag, 10, "error %d", Counted(2));
    TRACE_WARNING(flag, 11, "warning %d", Counted(3));
    TRACE_INFO(flag, 12, "information %d", Counted(4));
    TRACE_VERBOSE(flag, 13, "verbose %d", Counted(5));
}

std::vector<ULONG> Numbers(const CTraceCapture& capture)
{
    std::vector<ULONG> numbers;
    for (const auto& message : capture.Messages())
        numbers.push_back(message.number);
    return numbers;
}

std::vector<std::size_t> Sizes(const CapturedTrace& message)
{
    std::vector<std::size_t> sizes;
    for (const auto& arg : message.args)
        sizes.push_back(arg.size());
    return sizes;
}

} // namespace

TEST(TraceTest, SessionReceivesOnlyItsFlagsUpToItsLevelUntilDisabled)
{
    CTraceCapture capture;
    // The numbers that trace points of every level on each of `flags` send.
    const auto sent = [&capture](std::initializer_list<ULONG> flags) {
        capture.Clear();
        g_evaluations = 0;
        for (const ULONG flag : flags)
            TraceAllLevels(flag);
        return Numbers(capture);
    };
    // Without a session nothing is sent and no argument evaluated.
    EXPECT_TRUE(sent({kTraceFlagGeneral, kTraceFlagEvents}).empty());
    EXPECT_EQ(0, g_evaluations);

    ASSERT_EQ(static_cast<ULONG>(ERROR_SUCCESS), capture.Enable(kTraceLevelError, kTraceFlagEvents));
    EXPECT_EQ(std::vector<ULONG>{10}, sent({kTraceFlagGeneral, kTraceFlagCompression, kTraceFlagEvents}));
    EXPECT_EQ(1, g_evaluations);
    capture.Enable(kTraceLevelInformation, kTraceFlagGeneral | kTraceFlagEvents);
    EXPECT_EQ((std::vector<ULONG>{10, 11, 12}), sent({kTraceFlagEvents, kTraceFlagCompression}));
    capture.Enable(kTraceLevelVerbose, 0xFFFFFFFF);
    EXPECT_EQ(static_cast<ULONG>(ERROR_INVALID_PARAMETER), capture.Request(WMI_GET_ALL_DATA));
    EXPECT_EQ(4u, sent({kTraceFlagEvents}).size());

    EXPECT_EQ(static_cast<ULONG>(ERROR_SUCCESS), capture.Disable());
    EXPECT_EQ(0u, trace::g_state.level.load() | trace::g_state.flags.load() | trace::g_state.logger.load());
    EXPECT_TRUE(sent({kTraceFlagEvents}).empty());
    EXPECT_EQ(static_cast<ULONG>(ERROR_INVALID_PARAMETER), capture.Request(WMI_ENABLE_COLLECTION));
    EXPECT_TRUE(sent({kTraceFlagEvents}).empty());
}

TEST(TraceTest, ArgumentsTravelAsTheirBytes)
{
    CTraceCapture capture;
    capture.Enable(kTraceLevelVerbose, kTraceFlagEvents);
    const wchar_t* nullWide = nullptr;
    const char* nullNarrow = nullptr;
    const std::wstring path = L"C:\\data\\file.json";
    int marker = 0;
    TRACE_INFO(kTraceFlagEvents, 20, "%d %u %llu %zu %p", -2, DWORD{7}, 0x1122334455667788ull, sizeof(int), &marker);
    TRACE_INFO(kTraceFlagEvents, 21, "%ls|%ls|%ls|%ls|%s|%s", path, L"", nullWide, L"x", nullNarrow, "ab");

    ASSERT_EQ(2u, capture.Messages().size());
    const CapturedTrace& numbers = capture.Messages()[0];
    EXPECT_TRUE(IsEqualGUID(kTraceUnit, numbers.unit));
    EXPECT_EQ(20u, numbers.number);
    EXPECT_EQ(43u, numbers.messageFlags);
    EXPECT_NE(0u, numbers.logger);
    ASSERT_EQ((std::vector<std::size_t>{4, 4, 8, sizeof(std::size_t), sizeof(void*)}), Sizes(numbers));
    EXPECT_EQ(
        (std::vector<std::uint64_t>{0xFFFFFFFEu, 7, 0x1122334455667788ull, reinterpret_cast<std::uintptr_t>(&marker)}),
        (std::vector<std::uint64_t>{numbers.Number(0), numbers.Number(1), numbers.Number(2), numbers.Number(4)}));

    const CapturedTrace& texts = capture.Messages()[1];
    ASSERT_EQ((std::vector<std::size_t>{(path.size() + 1) * sizeof(wchar_t), 14, 10, 4, 5, 3}), Sizes(texts));
    EXPECT_EQ((std::vector<std::wstring>{path, L"<NULL>", L"NULL", L"x"}),
              (std::vector<std::wstring>{texts.Wide(0), texts.Wide(1), texts.Wide(2), texts.Wide(3)}));
    EXPECT_EQ("NULL|ab", texts.Narrow(4) + "|" + texts.Narrow(5));
}

TEST(TraceTest, ProviderRegistersTracesItsLifeAndUnregisters)
{
    int module = 0; // any address stands for the module handle
    const HMODULE handle = reinterpret_cast<HMODULE>(&module);
    CTraceCapture capture(CTraceCapture::Route::TraceMessage, kTraceLevelVerbose, kTraceFlagGeneral, handle);
    EXPECT_TRUE(IsEqualGUID(kTraceControlGuid, capture.RegisteredControl()));
    EXPECT_EQ(1, capture.Registrations());
    ASSERT_EQ(1u, capture.Messages().size());
    EXPECT_TRUE(capture.Has(kProviderUnit, 10));
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(handle), capture.Messages()[0].Number(0));

    capture.Stop();
    EXPECT_TRUE(capture.Has(kProviderUnit, 11));
    EXPECT_EQ(1, capture.Unregistrations());
    capture.Clear();
    TraceAllLevels(kTraceFlagGeneral);
    EXPECT_TRUE(capture.Messages().empty());
}

TEST(TraceTest, WithoutTraceMessageBlocksGoOutAsOneEvent)
{
    CTraceCapture capture(CTraceCapture::Route::TraceEvent);
    capture.Enable(kTraceLevelVerbose, kTraceFlagEvents);

    TRACE_WARNING(kTraceFlagEvents, 30, "%u %ls", 5u, L"ab");
    ASSERT_EQ(1u, capture.Messages().size());
    const CapturedTrace& inPlace = capture.Messages()[0];
    EXPECT_EQ(sizeof(EVENT_TRACE_HEADER) + 2 * sizeof(MOF_FIELD), inPlace.header.Size);
    EXPECT_EQ(static_cast<ULONG>(WNODE_FLAG_TRACED_GUID | WNODE_FLAG_USE_MOF_PTR), inPlace.header.Flags);
    EXPECT_TRUE(IsEqualGUID(kTraceUnit, inPlace.unit));
    EXPECT_EQ(30u, inPlace.number);
    EXPECT_EQ(kTraceLevelWarning, inPlace.header.Class.Level);
    EXPECT_EQ(5u, inPlace.Number(0));
    EXPECT_EQ(L"ab", inPlace.Wide(1));

    // Eight blocks still go in place; a ninth makes one copied block of them all.
    capture.Clear();
    TRACE_INFO(kTraceFlagEvents, 31, "%u%u%u%u%u%u%u%u", 1, 2, 3, 4, 5, 6, 7, 8);
    TRACE_INFO(kTraceFlagEvents, 32, "%u%u%u%u%u%u%u%u%s", 1, 2, 3, 4, 5, 6, 7, 8, "z");
    ASSERT_EQ(2u, capture.Messages().size());
    EXPECT_EQ(std::vector<std::size_t>(8, 4), Sizes(capture.Messages()[0]));
    const CapturedTrace& joined = capture.Messages()[1];
    ASSERT_EQ(std::vector<std::size_t>{8 * 4 + 2}, Sizes(joined));
    EXPECT_EQ(8u, joined.args[0][28]);
    EXPECT_EQ('z', joined.args[0][32]);

    // 8192 bytes of arguments are sent, one more and the message is dropped.
    capture.Clear();
    const std::string fits(8192 - 1, 'f');
    const std::string tooLong(8192, 'f');
    TRACE_INFO(kTraceFlagEvents, 33, "%s", fits);
    TRACE_INFO(kTraceFlagEvents, 34, "%s", tooLong);
    TRACE_INFO(kTraceFlagEvents, 35, "%u%u%u%u%u%u%u%u%s", 1, 2, 3, 4, 5, 6, 7, 8, tooLong);
    EXPECT_EQ(std::vector<ULONG>{33}, Numbers(capture));
}

TEST(TraceTest, FormatCheckKnowsEveryPlaceholder)
{
    using trace::ArgKind;
    static constexpr ArgKind kinds[] = {ArgKind::Int32, ArgKind::Int64, ArgKind::Wide, ArgKind::Narrow,
                                        ArgKind::Pointer};
    static_assert(trace::FormatMatches("100%% %08x %llu %ls %s %p", kinds, 5));
    static_assert(!trace::FormatMatches("%u %u %ls %s %p", kinds, 5));
    static_assert(!trace::FormatMatches("%x %llu %ls %s", kinds, 5));
    static_assert(!trace::FormatMatches("%x %llu %ls %s %p %u", kinds, 5));
    static_assert(!trace::FormatMatches("%f", kinds, 1));
    static_assert(trace::FormatMatches("%lu is a DWORD", kinds, 1));
}

TEST(TraceTest, UnitGuidsReadEitherCaseAndRefuseMalformedText)
{
    static_assert(trace::ParseGuid("ABCDEF01-2345-6789-ABCD-EF0123456789").Data1 == 0xabcdef01);
    static_assert(trace::ParseGuid("abcdef01-2345-6789-abcd-ef0123456789").Data4[7] == 0x89);
    // Outside a constant expression a malformed text throws.
    char malformed[][37] = {"abcdef01+2345-6789-abcd-ef0123456789", "abcdef01-2345-6789-abcd-ef012345678g"};
    for (const auto& text : malformed)
        EXPECT_THROW(trace::ParseGuid(text), const char*) << text;
}
