#include "telemetry/PublisherSignature.h"

#include "CAgentInstall.h"
#include "TraceCapture.h"

#include <gtest/gtest.h>

#include <string>

namespace
{

constexpr GUID kUnit = trace::ParseGuid("65eb8de7-0e86-4390-a4e1-52750a3281c4");

// Made at build time by signed-samples: one copy of a small program per development publisher.
std::wstring Sample(const wchar_t* name)
{
    return CAgentInstall::BuildFolder() + L"..\\publisher-samples\\" + name;
}

const CapturedTrace* Find(const CTraceCapture& capture, ULONG number)
{
    for (const CapturedTrace& message : capture.Messages())
        if (IsEqualGUID(message.unit, kUnit) && message.number == number)
            return &message;
    return nullptr;
}

} // namespace

TEST(PublisherSignatureTest, OnlyTheTrustedPublishersEmbeddedValidSignaturesAreTrusted)
{
    // trace: the message that says why (0: none); rejected: the signer name it carries; result: its trust result.
    const struct { const wchar_t* file; bool trusted; ULONG trace; const wchar_t* rejected; DWORD result; } cases[] = {
        {L"trevane.exe", true, 0, nullptr, 0},
        {L"korvo.exe", true, 0, nullptr, 0},
        {L"korvo-nodot.exe", true, 0, nullptr, 0},
        {L"korvo-expired.exe", true, 17, nullptr, 0},
        {L"korvo-suffix.exe", false, 16, L"Korvo Security S.L.x", 0},
        {L"korvo-lower.exe", false, 16, L"korvo security s.l.", 0},
        {L"other.exe", false, 16, L"Other Publisher Ltd", 0},
        {L"korvo-rogue.exe", false, 14, nullptr, static_cast<DWORD>(CERT_E_UNTRUSTEDROOT)},
        {L"changed.exe", false, 14, nullptr, static_cast<DWORD>(TRUST_E_BAD_DIGEST)},
        {L"detached.p7s", false, 14, nullptr, 0},
        {L"unsigned.exe", false, 11, nullptr, 0},
        {L"missing.exe", false, 11, nullptr, 0},
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(testing::Message() << "file " << std::string(c.file, c.file + std::wcslen(c.file)));
        CTraceCapture capture(CTraceCapture::Route::TraceMessage, kTraceLevelVerbose, kTraceFlagEvents);
        const std::wstring path = Sample(c.file);
        EXPECT_EQ(c.trusted, IsTrustedFile(path.c_str()));
        if (c.trace == 0)
        {
            EXPECT_TRUE(capture.Messages().empty());
            continue;
        }
        const CapturedTrace* message = Find(capture, c.trace);
        ASSERT_NE(nullptr, message);
        EXPECT_EQ(path, message->Wide(0));
        if (c.rejected != nullptr)
        {
            EXPECT_EQ(c.rejected, message->Wide(1));
        }
        if (c.result != 0)
        {
            EXPECT_EQ(c.result, message->Number(1));
        }
    }

    // What the build signs as the agent's own.
    for (const wchar_t* program : {L"Wexler.exe", L"TelemetrySample.exe"})
        EXPECT_TRUE(IsTrustedFile((CAgentInstall::BuildFolder() + program).c_str()));

    for (const wchar_t* nothing : {static_cast<const wchar_t*>(nullptr), L""})
    {
        CTraceCapture capture(CTraceCapture::Route::TraceMessage, kTraceLevelError, kTraceFlagEvents);
        EXPECT_FALSE(IsTrustedFile(nothing));
        EXPECT_TRUE(capture.Has(kUnit, 10));
    }
}
