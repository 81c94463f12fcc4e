// Linux programs started from under Wine: arguments arrive as given, the exit code and output come back.

#include "CUnixProcess.h"

#include "platform/TextUtil.h"

#include <gtest/gtest.h>

#include <string>

namespace
{

class UnixProcessTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        std::wstring reason;
        ASSERT_TRUE(m_work.MakeFolder(L"unix-process-test", reason)) << WideToUtf8(reason);
    }

    CUnixServer m_work; // only for its folder
};

} // namespace

TEST_F(UnixProcessTest, RunGivesExitCodeAndOutputWithArgumentsIntact)
{
    std::string output;
    EXPECT_EQ(CUnixProcess::Run({L"/bin/sh", L"-c", L"printf '%s|' \"$@\"; echo; echo to-error >&2; exit 3", L"sh",
                                 L"a b", L"c\"d", L"", L"\\e\\"},
                                m_work.Folder(), L"run", std::chrono::seconds(10), output),
              3);
    EXPECT_EQ(output, "a b|c\"d||\\e\\|\nto-error\n");

    EXPECT_EQ(
        CUnixProcess::Run({L"/usr/bin/no-such-program"}, m_work.Folder(), L"missing", std::chrono::seconds(10), output),
        -1);
    EXPECT_NE(output.find("no-such-program is not there"), std::string::npos) << output;
    std::wstring reason;
    EXPECT_FALSE(m_work.Launch({L"/usr/sbin/no-such-server"}, L"no-such-package", "127.0.0.1", {}, reason));
    EXPECT_NE(reason.find(L"Debian package no-such-package"), std::wstring::npos) << WideToUtf8(reason);
}
