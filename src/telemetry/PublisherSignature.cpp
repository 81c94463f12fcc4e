#include "telemetry/PublisherSignature.h"

#include "host/Trace.h"
#include "platform/CUniqueHandle.h"
#include "platform/Win.h"

#include <softpub.h>
#include <wincrypt.h>
#include <wintrust.h>

#include <cwchar>
#include <string>
#include <vector>

TRACE_UNIT("65eb8de7-0e86-4390-a4e1-52750a3281c4");

namespace
{

// Compared with the signer's simple display name exactly: case and trailing characters matter.
constexpr const wchar_t* kTrustedPublishers[] = {
    L"Trevane Technologies, Inc.",
    L"Korvo Security S.L.",
    L"Korvo Security S.L",
};

constexpr DWORD kEncoding = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;

bool IsTrustedPublisher(const std::wstring& name)
{
    for (const wchar_t* trusted : kTrustedPublishers)
        if (name == trusted)
            return true;
    return false;
}

} // namespace

LONG VerifyAuthenticode(const wchar_t* path, DWORD providerFlags)
{
    WINTRUST_FILE_INFO file{};
    file.cbStruct = sizeof(file);
    file.pcwszFilePath = path;

    WINTRUST_DATA data{};
    data.cbStruct = sizeof(data);
    data.dwUIChoice = WTD_UI_NONE;
    data.fdwRevocationChecks = WTD_REVOKE_NONE;
    data.dwUnionChoice = WTD_CHOICE_FILE;
    data.pFile = &file;
    data.dwStateAction = WTD_STATEACTION_VERIFY;
    data.dwProvFlags = providerFlags;

    GUID action = WINTRUST_ACTION_GENERIC_VERIFY_V2;
    const LONG result = ::WinVerifyTrust(static_cast<HWND>(INVALID_HANDLE_VALUE), &action, &data);
    data.dwStateAction = WTD_STATEACTION_CLOSE;
    ::WinVerifyTrust(static_cast<HWND>(INVALID_HANDLE_VALUE), &action, &data);
    return result;
}

bool IsTrustedFile(const wchar_t* path)
{
    if (path == nullptr || *path == L'\0')
    {
        TRACE_ERROR(kTraceFlagEvents, 10, "publisher check: no file named");
        return false;
    }

    CCertStore store;
    CCryptMsg message;
    if (!::CryptQueryObject(CERT_QUERY_OBJECT_FILE, path, CERT_QUERY_CONTENT_FLAG_PKCS7_SIGNED_EMBED,
                            CERT_QUERY_FORMAT_FLAG_BINARY, 0, nullptr, nullptr, nullptr, store.Put(),
                            message.Put(), nullptr))
    {
        const DWORD error = ::GetLastError();
        TRACE_ERROR(kTraceFlagEvents, 11, "publisher check: no embedded signature in %ls: error 0x%x", path, error);
        return false;
    }

    DWORD size = 0;
    std::vector<BYTE> signerBytes;
    if (::CryptMsgGetParam(message.Get(), CMSG_SIGNER_INFO_PARAM, 0, nullptr, &size) && size != 0)
    {
        signerBytes.resize(size);
        if (!::CryptMsgGetParam(message.Get(), CMSG_SIGNER_INFO_PARAM, 0, signerBytes.data(), &size))
            signerBytes.clear();
    }
    if (signerBytes.empty())
    {
        const DWORD error = ::GetLastError();
        TRACE_ERROR(kTraceFlagEvents, 12, "publisher check: cannot read the signer of %ls: error 0x%x", path, error);
        return false;
    }
    const auto* signer = reinterpret_cast<const CMSG_SIGNER_INFO*>(signerBytes.data());

    CERT_INFO wanted{};
    wanted.Issuer = signer->Issuer;
    wanted.SerialNumber = signer->SerialNumber;
    const CCertContext certificate(::CertFindCertificateInStore(store.Get(), kEncoding, 0, CERT_FIND_SUBJECT_CERT,
                                                                &wanted, nullptr));
    if (!certificate)
    {
        const DWORD error = ::GetLastError();
        TRACE_ERROR(kTraceFlagEvents, 13, "publisher check: signer certificate of %ls not found: error 0x%x", path,
                    error);
        return false;
    }

    const LONG trust = VerifyAuthenticode(path);
    if (trust != ERROR_SUCCESS && trust != CERT_E_EXPIRED)
    {
        TRACE_ERROR(kTraceFlagEvents, 14, "publisher check: signature of %ls not accepted: trust result 0x%x", path,
                    static_cast<DWORD>(trust));
        return false;
    }

    std::wstring name;
    const DWORD length = ::CertGetNameStringW(certificate.Get(), CERT_NAME_SIMPLE_DISPLAY_TYPE, 0, nullptr,
                                              nullptr, 0);
    if (length > 1)
    {
        name.resize(length);
        name.resize(::CertGetNameStringW(certificate.Get(), CERT_NAME_SIMPLE_DISPLAY_TYPE, 0, nullptr, name.data(),
                                         length));
        name.resize(std::wcslen(name.c_str()));
    }
    if (name.empty())
    {
        TRACE_ERROR(kTraceFlagEvents, 15, "publisher check: signer of %ls has no name", path);
        return false;
    }
    if (!IsTrustedPublisher(name))
    {
        TRACE_ERROR(kTraceFlagEvents, 16, "publisher check: %ls is signed by %ls, not a trusted publisher", path,
                    name.c_str());
        return false;
    }
    if (trust == CERT_E_EXPIRED)
        TRACE_WARNING(kTraceFlagEvents, 17, "publisher check: %ls is signed by %ls with an expired certificate",
                      path, name.c_str());
    return true;
}
