// The readers of what other components hand the plug-in (tracking files, the events' payloads), fed seeded
// mutations of the inputs the other suites use. Fuzz.h says what each case checks and how to run it longer.

#include "CFakeConfigUtil.h"
#include "Fuzz.h"
#include "TestFiles.h"

#include "host/CAgentServiceProvider.h"
#include "message/CMessageObject.h"
#include "platform/Digest.h"
#include "platform/FolderTree.h"
#include "platform/Path.h"
#include "platform/TextUtil.h"
#include "repository/CRepositoryBatchDownloader.h"
#include "telemetry/CCartridgeCatalog.h"
#include "telemetry/CFileUploadEventProcessor.h"
#include "telemetry/CPluginExecuteEventProcessor.h"
#include "telemetry/CTelemetryDownloadablePlugin.h"
#include "telemetry/ProcessorCollaborators.h"
#include "telemetry/TrackingRecord.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <tuple>

namespace
{

void AddPairs(CMessageObject& payload, const wchar_t* name, const std::vector<std::pair<std::wstring, std::wstring>>& pairs)
{
    CMessageObject* array = payload.AddArray(name);
    for (const auto& [first, second] : pairs)
    {
        CMessageObject* pair = array->AddObject(std::wstring(), false);
        pair->AddString(L"Name", first);
        pair->AddString(L"Value", second);
    }
}

// A tracking file as the writing component would make it from the record.
std::string Written(const TrackingRecord& record)
{
    CMessageObject document;
    document.AddString(L"TrackIndex", record.trackIndex);
    AddPairs(document, L"CustomData", record.customPairs);
    std::string text;
    EXPECT_TRUE(document.SerializeUtf8(text));
    return text;
}

// Whether path, as the system resolves it (trailing backslashes dropped, as RemoveTree does), names something
// strictly below folder; a path too long to resolve reaches nothing.
bool StaysUnder(const std::wstring& folder, std::wstring path)
{
    while (!path.empty() && path.back() == L'\\')
        path.pop_back();
    wchar_t base[MAX_PATH], full[MAX_PATH];
    const DWORD baseLength = ::GetFullPathNameW(folder.c_str(), MAX_PATH, base, nullptr);
    const DWORD fullLength = ::GetFullPathNameW(path.c_str(), MAX_PATH, full, nullptr);
    if (fullLength >= MAX_PATH)
        return true;
    if (fullLength == 0 || baseLength == 0 || baseLength >= MAX_PATH)
        return false;
    const std::wstring inside = WithTrailingBackslash(std::wstring(base, baseLength));
    return fullLength > inside.size() && EqualsIgnoringCase(std::wstring(full, inside.size()), inside);
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
    run.ExpectClean(3);
}

TEST(EventReadersFuzzTest, UploadRecord)
{
    const std::vector<std::string> seeds = {
        R"({"Filename":"C:\\data\\out.zip","Status":{"Code":3,"Description":"partial"},"Metadata":[{"Name":"host","Value":"pc-1"},{"Name":"","Value":"x"},{"Value":"y"}],"ContentType":"application/zip","OperationId":"42","Owner":"ops","RetryCount":2,"KeepFile":true})",
        R"({"Filename":"report.txt","RetryCount":4294967295,"Status":{"Code":-1}})",
        R"({"Status":[],"Metadata":{"Name":"a","Value":"b"},"KeepFile":"true"})",
    };
    CFuzzRun run("upload record");
    run.ForEachInput([&](int) {
        CMessageObject payload;
        if (!payload.FromUtf8Json(run.Json(seeds)))
            return run.Outcome("not JSON");
        const UploadRecord record = ReadUploadRecord(payload);
        run.Outcome(std::string(record.filePath.empty() ? "no file" : "file") + (record.keepFile ? " kept" : "") +
                    (record.metadata.empty() ? "" : " metadata"));
        run.Expect(std::none_of(record.metadata.begin(), record.metadata.end(), [](const auto& pair) { return pair.first.empty(); }),
                   "a metadata pair without a name was kept");
        CMessageObject written;
        written.AddString(L"Filename", record.filePath);
        CMessageObject* status = written.AddObject(L"Status", true);
        status->AddUInt32(L"Code", static_cast<std::uint32_t>(record.statusCode));
        status->AddString(L"Description", record.statusDescription);
        AddPairs(written, L"Metadata", record.metadata);
        written.AddString(L"ContentType", record.contentType);
        written.AddString(L"OperationId", record.operationId);
        written.AddString(L"Owner", record.owner);
        written.AddUInt32(L"RetryCount", record.retryCount);
        written.AddBool(L"KeepFile", record.keepFile);
        const auto fields = [](const UploadRecord& r) {
            return std::tie(r.filePath, r.statusCode, r.statusDescription, r.metadata, r.contentType, r.operationId,
                            r.owner, r.retryCount, r.keepFile);
        };
        run.Expect(fields(ReadUploadRecord(written)) == fields(record),
                   "the record written back reads differently");
    });
    run.ExpectClean(4);
}

// Whatever names pass the processor's checks make paths inside their folders: the unpacked folder (removed
// whole by Cleanup), the main file and launcher inside it, the configuration file in "Config".
TEST(EventReadersFuzzTest, PluginExecuteRequest)
{
    const std::wstring base = L"http://repo.test/files", data = L"C:\\ProgramData\\Agent\\";
    const std::vector<std::string> seeds = {
        R"({"PluginId":"plugin-1","PluginName":"tool.exe","Cartridge":{"SourcePath":"http://server.test/pkg/tool.exe","SourceMd5":"0b1c","CatalogMd5":"9f0e","CatalogType":1},"Reuse":false,"OperationId":"op-7","Owner":"ops","Parameters":[{"Name":"a","Value":"1"},{"Name":"","Value":"2"}]})",
        R"({"PluginId":"plugin-2","PluginName":"x.exe","LauncherPluginName":"bin\\tool.exe","PluginLauncher":"bin/launch.exe","Flags":1,"Cartridge":{"SourceRelativePath":"/pkg/a.zip","SourcePath":"http://server.test/a.zip"}})",
        R"({"PluginId":"p.v2","PluginName":"..\\x.exe","OperationId":"a:b","Cartridge":{"SourceRelativePath":"pkg/b.rar"},"Reuse":"no"})",
    };
    CFakeConfigUtil config;
    config.Set(L"Communications.Defaults.FileRepositoryBase", base);
    CFuzzRun run("plug-in execute request");
    run.ForEachInput([&](int) {
        CMessageObject payload;
        if (!payload.FromUtf8Json(run.Json(seeds)))
            return run.Outcome("not JSON");
        PluginExecuteRequest request = ReadPluginExecuteRequest(payload, &config);

        std::wstring relative;
        if (const CMessageObject* given = ChildObject(payload, L"Cartridge");
            given != nullptr && given->GetString(L"SourceRelativePath", relative) && !relative.empty())
            run.Expect(request.cartridge.source.rfind(base, 0) == 0, "a relative source left the repository base");

        CMessageObject written;
        written.AddString(L"PluginId", request.pluginId);
        written.AddString(L"PluginName", request.pluginName);
        written.AddString(L"PluginLauncher", request.launcherPath);
        written.AddUInt32(L"Flags", request.cartridge.flags);
        CMessageObject* cartridge = written.AddObject(L"Cartridge", true);
        cartridge->AddString(L"SourcePath", request.cartridge.source);
        cartridge->AddString(L"SourceMd5", request.cartridge.sourceMd5);
        cartridge->AddString(L"CatalogMd5", request.cartridge.catalogMd5);
        cartridge->AddUInt32(L"CatalogType", request.cartridge.catalogType);
        AddPairs(written, L"Parameters", request.parameters);
        written.AddBool(L"Reuse", request.reuse);
        written.AddString(L"OperationId", request.operationId);
        written.AddString(L"Owner", request.owner);
        const auto fields = [](const PluginExecuteRequest& r) {
            return std::tie(r.pluginId, r.pluginName, r.launcherPath, r.cartridge.source, r.cartridge.sourceMd5,
                            r.cartridge.catalogMd5, r.cartridge.flags, r.cartridge.catalogType, r.parameters, r.reuse,
                            r.operationId, r.owner);
        };
        run.Expect(fields(ReadPluginExecuteRequest(written, &config)) == fields(request),
                   "the request written back reads differently");

        // The names once more, mutated as text: JSON mutations seldom make the awkward ones.
        if (run.Random()() % 2)
            request.pluginId = MutateText(request.pluginId, run.Random());
        else
            request.pluginName = MutateText(request.pluginName, run.Random());
        // The processor's checks.
        if (!IsPlainFileName(request.pluginId))
            return run.Outcome("plug-in id refused");
        if (std::any_of(request.operationId.begin(), request.operationId.end(), IsRefusedInFileName))
            return run.Outcome("operation id refused");
        for (const std::wstring* path : {&request.pluginName, &request.launcherPath})
            if (!path->empty() && !IsPlainRelativePath(*path))
                return run.Outcome("path refused");
        run.Outcome("accepted");
        const std::wstring downloads = data + L"Downloads\\", unpacked = downloads + request.pluginId + L'\\';
        run.Expect(StaysUnder(downloads, unpacked), "the unpacked folder is not below Downloads: " + Printable(request.pluginId));
        for (const std::wstring* path : {&request.pluginName, &request.launcherPath})
            run.Expect(path->empty() || StaysUnder(unpacked, unpacked + *path), "a path leaves the unpacked folder: " + Printable(request.pluginId) + " " + Printable(*path));
        const std::wstring configFile = data + L"Config\\" + request.pluginId +
                                    (request.operationId.empty() ? L"" : L"_" + request.operationId) +
                                    L"_{8b5f9c52-0d3e-4a31-9f0a-5d2c7e1b6a44}.cfg";
        run.Expect(StaysUnder(data + L"Config\\", configFile), "the configuration file is not in Config");
    });
    run.ExpectClean(5);
}

// "catalog.dat" over a small unpacked folder, next to a file outside it with the digest of one inside: a
// catalog that passes names files inside the folder only.
TEST(EventReadersFuzzTest, CartridgeCatalog)
{
    wchar_t temp[MAX_PATH + 1] = {};
    ASSERT_NE(::GetTempPathW(MAX_PATH + 1, temp), 0u);
    const std::wstring scratch = std::wstring(temp) + L"catalog-fuzz-" + std::to_wstring(::GetCurrentProcessId()) + L"\\";
    const std::wstring folder = scratch + L"pkg\\", catalog = scratch + L"catalog.dat";
    ASSERT_EQ(MakeFolderTree(folder + L"bin"), static_cast<DWORD>(ERROR_SUCCESS));
    WriteBytes(folder + L"tool.exe", "main");
    WriteBytes(folder + L"bin\\run.dll", "dll");
    WriteBytes(scratch + L"outside.exe", "main");
    std::wstring main, dll;
    ASSERT_EQ(Md5HexOfBuffer("main", 4, main), static_cast<DWORD>(ERROR_SUCCESS));
    ASSERT_EQ(Md5HexOfBuffer("dll", 3, dll), static_cast<DWORD>(ERROR_SUCCESS));
    const std::string m = WideToUtf8(main), d = WideToUtf8(dll);
    const std::vector<std::string> seeds = {
        "tool.exe:" + m + "\nbin\\run.dll:" + d + "\n",
        "bin/run.dll:" + d + "\r\ntool.exe:" + m,
        "",
        "..\\outside.exe:" + m + "\n",
        "bin\\..\\tool.exe:" + m + "\nbin\\..\\..\\outside.exe:" + m + "\n",
        "tool.exe.:" + m + "\n" + "TOOL.EXE:" + m,
    };
    CFuzzRun run("cartridge catalog");
    const CDigestProviders digests;   // the run's digests share the providers' contexts
    run.ForEachInput([&](int) {
        WriteBytes(catalog, run.Bytes(seeds));
        CCartridgeCatalog reader(catalog);
        const bool passed = reader.Check(folder);
        run.Outcome(std::string(passed ? "passed " : "failed ") + std::to_string(std::min<size_t>(reader.Entries().size(), 3)));
        if (!passed)
            return;
        for (const auto& [relative, md5] : reader.Entries())
            run.Expect(!relative.empty() && relative.front() != L'\\' && relative.front() != L'/' &&
                           relative.find(L':') == std::wstring::npos && StaysUnder(folder, folder + relative),
                       "a passing catalog names a file outside its folder");
    });
    EXPECT_TRUE(RemoveTree(scratch));
    run.ExpectClean(4);
}

// What is made of a package's source URL: the package file, named by the path's last segment where that is a
// plain name, directly in "Downloads"; the repository URL, "http://<host>/<SHA-256 text>", and a provider's
// URL for it, which stays on the provider whatever the source holds.
TEST(EventReadersFuzzTest, PackageSourceUrl)
{
    const std::wstring downloads = L"C:\\ProgramData\\Agent\\Downloads\\";
    const std::vector<std::wstring> seeds = {
        L"http://server.test/pkg/tool.exe?v=2", L"https://cdn.test:8443/pkg/a.zip#part", L"ftp://cdn.test/a.zip",
        L"cdn.test/a.zip", L"http://server.test", L"http://server.test/pkg/NUL.exe", L"http://[::1]:8080/p/q/r.rar",
    };
    const CAgentServiceProvider provider(L"10.0.0.5", 18226);
    CFuzzRun run("package source URL");
    const CDigestProviders digests;   // the run's digests share the providers' contexts
    run.ForEachInput([&](int) {
        const std::wstring source = run.Text(seeds);
        const CTelemetryDownloadablePlugin file(source, L"", L"");
        const std::wstring repository = file.GetRepositoryUrl();
        const std::size_t scheme = source.find(L"://");
        const std::wstring rest = scheme == std::wstring::npos ? source : source.substr(scheme + 3);
        if (rest.empty())
        {
            run.Outcome("nothing after the scheme");
            run.Expect(repository == source, "a URL without a host got a repository URL of its own");
        }
        else
        {
            const std::wstring host = rest.substr(0, rest.find(L'/'));
            run.Expect(repository.size() == 7 + host.size() + 1 + 64 && repository.rfind(L"http://" + host + L"/", 0) == 0 &&
                           repository.find_first_not_of(L"0123456789abcdef", repository.size() - 64) == std::wstring::npos,
                       "the repository URL is not http://<host>/<digest>");
            const std::wstring url = Repository::CRepositoryBatchDownloader::ProviderUrl(provider, L"Telemetry", file);
            run.Expect(url == L"http://10.0.0.5:18226/Telemetry/" + repository.substr(repository.size() - 64),
                       "the provider's URL is not the provider's");
        }

        const std::size_t hostStart = scheme == std::wstring::npos ? 0 : scheme + 3;
        const std::size_t pathStart = std::min(source.find(L'/', hostStart), source.size());
        const std::wstring path = source.substr(pathStart, std::min(source.find_first_of(L"?#", pathStart), source.size()) - pathStart);
        const std::wstring name = path.substr(path.find_last_of(L"/\\") == std::wstring::npos ? 0 : path.find_last_of(L"/\\") + 1);
        if (!IsPlainFileName(name))
            return run.Outcome("named by digest");
        run.Outcome("named by its last segment");
        run.Expect(StaysUnder(downloads, downloads + name) && name.find_first_of(L"\\/") == std::wstring::npos,
                   "the package file is not in Downloads: " + Printable(name));
    });
    run.ExpectClean(3);
}
