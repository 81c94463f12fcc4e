// The development agent's compression component: zip and rar archives extracted with libarchive into a
// folder, refusing every archive that has an entry which would land outside it (README).

#include "host/ComponentExports.h"
#include "host/IDecompressor.h"
#include "platform/CHandedOut.h"
#include "platform/CUniqueHandle.h"
#include "platform/Path.h"

#include <archive.h>
#include <archive_entry.h>

#include <algorithm>
#include <cwchar>
#include <iterator>
#include <memory>
#include <new>
#include <string>
#include <vector>

#define EXPORT extern "C" __declspec(dllexport)

namespace
{

struct ArchiveFree
{
    void operator()(archive* reader) const noexcept { archive_read_free(reader); }
};
using CArchive = std::unique_ptr<archive, ArchiveFree>;

// The zip reader that starts from the central directory: the streaming one reads local headers in order, so it
// extracts everything from a zip whose central directory was cut off, and takes a link for a file (only the
// central directory says what an entry is).
CArchive OpenArchive(DWORD kind, const std::wstring& path)
{
    CArchive reader(archive_read_new());
    if (!reader)
        throw std::bad_alloc();
    if (kind == kArchiveZip)
    {
        archive_read_support_format_zip_seekable(reader.get());
    }
    else
    {
        archive_read_support_format_rar(reader.get());
        archive_read_support_format_rar5(reader.get());
    }
    if (archive_read_open_filename_w(reader.get(), path.c_str(), 64 * 1024) != ARCHIVE_OK)
        return {};
    return reader;
}

// Names that Windows takes as devices in any folder, with or without an extension.
bool IsDeviceName(const std::wstring& component)
{
    std::wstring base = component.substr(0, component.find(L'.'));
    while (!base.empty() && base.back() == L' ')
        base.pop_back();
    for (const wchar_t* device : {L"CON", L"PRN", L"AUX", L"NUL", L"CONIN$", L"CONOUT$"})
        if (_wcsicmp(base.c_str(), device) == 0)
            return true;
    return base.size() == 4 && (_wcsnicmp(base.c_str(), L"COM", 3) == 0 || _wcsnicmp(base.c_str(), L"LPT", 3) == 0) &&
           base[3] >= L'1' && base[3] <= L'9';
}

// The entry's name as a path below the folder, with backslashes (empty: the folder itself), or false when it
// would land anywhere else: a root, a drive or stream (any colon), "\\?\" and UNC forms, "..", a device, or a
// character Windows does not allow in a name. Windows drops trailing dots and spaces, so ". ." is "..".
bool RelativePath(const wchar_t* name, std::wstring& relative)
{
    if (name == nullptr || *name == L'\0')
        return false;
    std::wstring path(name);
    std::replace(path.begin(), path.end(), L'/', L'\\');
    if (path.front() == L'\\' || path.find_first_of(L":<>\"|?*") != std::wstring::npos ||
        std::any_of(path.begin(), path.end(), [](wchar_t c) { return c < 32; }))
        return false;
    relative.clear();
    for (size_t start = 0; start < path.size();)
    {
        const size_t end = std::min(path.find(L'\\', start), path.size());
        const std::wstring component = path.substr(start, end - start);
        start = end + 1;
        if (component.empty() || component == L".")
            continue;
        if (component.find_first_not_of(L". ") == std::wstring::npos || IsDeviceName(component))
            return false;
        if (!relative.empty())
            relative += L'\\';
        relative += component;
    }
    return true;
}

// What an entry becomes below the folder: ERROR_SUCCESS with its relative path and whether it is a folder,
// ERROR_BAD_PATHNAME when it would land outside it or is a link (or anything but a file or a folder).
DWORD EntryTarget(archive_entry* entry, std::wstring& relative, bool& isFolder)
{
    const mode_t type = archive_entry_filetype(entry);
    if ((type != AE_IFREG && type != AE_IFDIR) || archive_entry_hardlink(entry) != nullptr ||
        archive_entry_symlink(entry) != nullptr)
        return ERROR_BAD_PATHNAME;
    isFolder = type == AE_IFDIR;
    if (!RelativePath(archive_entry_pathname_w(entry), relative) || (!isFolder && relative.empty()))
        return ERROR_BAD_PATHNAME;
    return ERROR_SUCCESS;
}

// onEntry with every entry's target in turn: ERROR_SUCCESS after the last, else the first error (ERROR_INVALID_DATA
// for a damaged archive, ERROR_BAD_PATHNAME for an entry that may not be written).
template <typename Fn>
DWORD ForEachEntry(archive* reader, Fn&& onEntry)
{
    for (;;)
    {
        archive_entry* entry = nullptr;
        const int status = archive_read_next_header(reader, &entry);
        if (status == ARCHIVE_EOF)
            return ERROR_SUCCESS;
        if (status != ARCHIVE_OK && status != ARCHIVE_WARN)
            return ERROR_INVALID_DATA;
        std::wstring relative;
        bool isFolder = false;
        if (const DWORD error = EntryTarget(entry, relative, isFolder); error != ERROR_SUCCESS)
            return error;
        if (const DWORD error = onEntry(relative, isFolder); error != ERROR_SUCCESS)
            return error;
    }
}

// What one extraction wrote: the files, and the folders it made. Unless kept, the destructor removes them,
// files first, then the folders deepest first (those that hold something else stay).
class CExtraction
{
public:
    explicit CExtraction(std::vector<std::wstring>& files) : m_files(files) {}
    ~CExtraction()
    {
        if (m_keep)
            return;
        for (const std::wstring& file : m_files)
            ::DeleteFileW(file.c_str());
        m_files.clear();
        for (auto folder = m_folders.rbegin(); folder != m_folders.rend(); ++folder)
            ::RemoveDirectoryW(folder->c_str());
    }
    CExtraction(const CExtraction&) = delete;
    CExtraction& operator=(const CExtraction&) = delete;

    void Keep() { m_keep = true; }

    // Makes folder (full path, trailing backslash) and every missing folder above it.
    DWORD MakeFolders(const std::wstring& folder)
    {
        // Levels above that cannot be made (a drive root, a server of a UNC path) exist or the last fails.
        for (size_t end = folder.find(L'\\'); end != std::wstring::npos; end = folder.find(L'\\', end + 1))
        {
            const std::wstring level = folder.substr(0, end);
            if (::CreateDirectoryW(level.c_str(), nullptr))
                m_folders.push_back(level);
            else if (end + 1 == folder.size() && ::GetLastError() != ERROR_ALREADY_EXISTS)
                return ::GetLastError();
        }
        const DWORD attributes = ::GetFileAttributesW(folder.c_str());
        if (attributes == INVALID_FILE_ATTRIBUTES)
            return ::GetLastError();
        return (attributes & FILE_ATTRIBUTE_DIRECTORY) ? ERROR_SUCCESS : ERROR_DIRECTORY;
    }

    // The current entry's data into path.
    DWORD WriteFile(archive* reader, const std::wstring& path)
    {
        CFileHandle file(
            ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file)
            return ::GetLastError();
        if (std::find(m_files.begin(), m_files.end(), path) == m_files.end())
            m_files.push_back(path);
        m_buffer.resize(64 * 1024);
        for (;;)
        {
            const la_ssize_t read = archive_read_data(reader, m_buffer.data(), m_buffer.size());
            if (read < 0)
                return ERROR_INVALID_DATA;   // damaged data, a bad checksum, a truncated entry
            if (read == 0)
                return ERROR_SUCCESS;
            DWORD written = 0;
            if (!::WriteFile(file.Get(), m_buffer.data(), static_cast<DWORD>(read), &written, nullptr))
                return ::GetLastError();
            if (written != static_cast<DWORD>(read))
                return ERROR_WRITE_FAULT;
        }
    }

private:
    std::vector<std::wstring>& m_files;
    std::vector<std::wstring> m_folders;
    std::vector<char> m_buffer;
    bool m_keep = false;
};

class CArchiveExtractor final : public IDecompressor
{
public:
    explicit CArchiveExtractor(DWORD kind) : m_kind(kind) {}

    DWORD Extract(const std::wstring& archivePath, const std::wstring& folder,
                  std::vector<std::wstring>& files) override
    {
        try
        {
            std::vector<std::wstring> written;
            const DWORD error = ExtractInto(archivePath, folder, written);
            if (error == ERROR_SUCCESS)
                files = std::move(written);
            return error;
        }
        catch (const std::bad_alloc&)
        {
            return ERROR_NOT_ENOUGH_MEMORY;   // nothing may unwind into the caller's module
        }
        catch (...)
        {
            return ERROR_INVALID_DATA;
        }
    }

private:
    DWORD ExtractInto(const std::wstring& archivePath, const std::wstring& folder, std::vector<std::wstring>& files)
    {
        const DWORD attributes = ::GetFileAttributesW(archivePath.c_str());
        if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY))
            return ERROR_FILE_NOT_FOUND;
        wchar_t full[MAX_PATH * 4];
        const DWORD length = ::GetFullPathNameW(folder.c_str(), static_cast<DWORD>(std::size(full)), full, nullptr);
        if (folder.empty() || length == 0 || length >= std::size(full))
            return ERROR_BAD_PATHNAME;
        const std::wstring root = WithTrailingBackslash(full);

        // Every entry is checked before anything is written: a refused archive leaves no trace.
        CArchive reader = OpenArchive(m_kind, archivePath);
        if (!reader)
            return ERROR_INVALID_DATA;
        if (const DWORD error = ForEachEntry(reader.get(), [](const std::wstring&, bool) { return ERROR_SUCCESS; });
            error != ERROR_SUCCESS)
            return error;

        reader = OpenArchive(m_kind, archivePath);
        if (!reader)
            return ERROR_INVALID_DATA;
        CExtraction extraction(files);
        if (const DWORD error = extraction.MakeFolders(root); error != ERROR_SUCCESS)
            return error;
        const DWORD error = ForEachEntry(reader.get(), [&](const std::wstring& relative, bool isFolder) {
            const std::wstring target = root + relative;
            if (isFolder)
                return extraction.MakeFolders(WithTrailingBackslash(target));
            if (const DWORD made = extraction.MakeFolders(target.substr(0, target.rfind(L'\\') + 1));
                made != ERROR_SUCCESS)
                return made;
            return extraction.WriteFile(reader.get(), target);
        });
        if (error == ERROR_SUCCESS)
            extraction.Keep();
        return error;
    }

    DWORD m_kind;
};

CHandedOut<IDecompressor> g_extractors;

} // namespace

EXPORT IDecompressor* GetCompression(DWORD kind)
{
    if (kind != kArchiveZip && kind != kArchiveRar)
        return nullptr;
    try
    {
        return g_extractors.HandOut(std::make_unique<CArchiveExtractor>(kind));
    }
    catch (...)
    {
        return nullptr;
    }
}

EXPORT void FreeCompression(DWORD /*kind*/, IDecompressor** decompressor)
{
    g_extractors.TakeBack(decompressor);
}

// Extractors handed out and not yet taken back.
EXPORT DWORD BrevikOutstandingObjects()
{
    return g_extractors.Outstanding();
}
