#include "CAgentInstall.h"

#include "platform/Files.h"

#include <gtest/gtest.h>

#include <string>

namespace
{

TEST(RepositoryServerTest, HostStartsTheConfiguredServer)
{
    CAgentInstall install;
    ASSERT_TRUE(install.AddComponents());
    ASSERT_EQ(WriteWholeFile(install.Folder() + L"Utils\\config.json",
                             R"({"Repository.Server.Settings": {"Enabled": true, "Port": 0}})"),
              ERROR_SUCCESS);
    const ChildResult host = install.RunHost();
    ASSERT_EQ(host.error, static_cast<DWORD>(ERROR_SUCCESS));
    EXPECT_NE(host.output.find("repository server on http://127.0.0.1:"), std::string::npos) << host.output;

    ASSERT_EQ(WriteWholeFile(install.Folder() + L"Utils\\config.json", "{}"), ERROR_SUCCESS);
    const ChildResult disabled = install.RunHost();
    EXPECT_EQ(disabled.output.find("repository server"), std::string::npos) << disabled.output;
}

} // namespace
