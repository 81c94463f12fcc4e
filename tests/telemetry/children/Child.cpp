// Child programs of the launcher and cartridge tests, one per CHILD_* definition.
#include "platform/Files.h"

#include <cstdlib>
#include <string>

int main(int argc, char** argv)
{
    static_cast<void>(argc);   // not every child reads its arguments
    static_cast<void>(argv);
#if defined(CHILD_PRINT)
    // <count> [exit code]: prints count bytes of "abc...z" over and over.
    std::string bytes;
    for (int i = 0; i < (argc > 1 ? std::atoi(argv[1]) : 0); ++i)
        bytes += static_cast<char>('a' + i % 26);
    DWORD written = 0;
    ::WriteFile(::GetStdHandle(STD_OUTPUT_HANDLE), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    return argc > 2 ? std::atoi(argv[2]) : 0;
#elif defined(CHILD_SLEEP)
    // Leaves its process id in its working folder, then outlasts every test's limit.
    static_cast<void>(WriteWholeFile(L"sleeper.pid", std::to_string(::GetCurrentProcessId())));
    ::Sleep(60000);
    return 0;
#else
    // A self-extracting package: its files into the working folder, one of them read-only.
    ::CreateDirectoryW(L"sub", nullptr);
    const bool written = WriteWholeFile(L"plugin.dll", "plug-in") == ERROR_SUCCESS &&
                         WriteWholeFile(L"sub\\data.txt", "data") == ERROR_SUCCESS &&
                         ::SetFileAttributesW(L"sub\\data.txt", FILE_ATTRIBUTE_READONLY);
    return written ? 0 : 1;
#endif
}
