#include "CAgentInstall.h"
#include "CServerFixture.h"
#include "ModuleExport.h"

#include "host/ComponentExports.h"
#include "host/IDispatchEvent.h"
#include "host/IRepositoryManager.h"
#include "platform/CUniqueHandle.h"
#include "platform/Files.h"

#include <gtest/gtest.h>

#include <string>

namespace
{

using WaitIdleFn = BOOL (*)(DWORD);

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

TEST(RepositoryServerTest, DispatcherRoutesContentRequestsToTheRepository)
{
    CAgentInstall install;
    ASSERT_TRUE(install.AddComponents());
    CServerFixture server;
    ASSERT_EQ(WriteWholeFile(install.Folder() + L"Additional files\\p.bin", "package"), ERROR_SUCCESS);
    server.ServeFiles("/files/", install.Folder() + L"Additional files");

    // The repository runs, as the host keeps it running; the dispatcher reaches the same library.
    const CModule merrow(::LoadLibraryW((install.Folder() + L"Repository\\Merrow.dll").c_str()));
    const CModule ostrel(::LoadLibraryW((install.Folder() + L"Ostrel.dll").c_str()));
    ASSERT_TRUE(merrow && ostrel);
    IRepositoryManager* manager = ModuleExport<GetIRepositoryManagerFn>(merrow.Get(), "GetIRepositoryManager")();
    ASSERT_NE(manager, nullptr);
    IDispatchEvent* dispatcher = ModuleExport<GetIDispatchEventFn>(ostrel.Get(), "GetIDispatchEvent")();
    ASSERT_NE(dispatcher, nullptr);

    const std::string url = server.BaseUrl() + "/files/p.bin";
    const std::wstring request = L"{\"AddRepositoryContent\":{\"Content\":[{\"Scope\":\"Telemetry\",\"Files\":[{\"Url\":\"" +
                                 std::wstring(url.begin(), url.end()) + L"\",\"Size\":7}]}]}}";
    EXPECT_EQ(dispatcher->Send(request.c_str(), false), ERROR_SUCCESS);
    ASSERT_TRUE(ModuleExport<WaitIdleFn>(merrow.Get(), "MerrowWaitIdle")(10000));
    std::string stored;
    EXPECT_EQ(ReadWholeFile(install.Folder() + L"Repository\\Telemetry\\files\\p.bin", stored), ERROR_SUCCESS);
    EXPECT_EQ(stored, "package");

    ModuleExport<FreeIDispatchEventFn>(ostrel.Get(), "FreeIDispatchEvent")(&dispatcher);
    ModuleExport<FreeIRepositoryManagerFn>(merrow.Get(), "FreeIRepositoryManager")(manager);
    EXPECT_EQ(ModuleExport<DWORD (*)()>(merrow.Get(), "MerrowOutstandingObjects")(), 0u);
}

} // namespace
