// trust-dev-root.exe FILE: adds the DER certificate in FILE to the machine's "Root" store, as an administrator
// trusts a company's own root. The build's Wine prefix trusts the development publishers' root and the test
// certificate authority's this way.
// Exit code 0, or the Windows error.

#include "platform/CUniqueHandle.h"
#include "platform/Files.h"
#include "platform/Win.h"

#include <cstdio>
#include <string>

int wmain(int argc, wchar_t** argv)
{
    if (argc != 2)
    {
        std::fputs("usage: trust-dev-root <certificate.der>\n", stderr);
        return ERROR_BAD_ARGUMENTS;
    }
    std::string der;
    if (const DWORD error = ReadWholeFile(argv[1], der); error != ERROR_SUCCESS)
    {
        std::fprintf(stderr, "trust-dev-root: cannot read %ls: error %lu\n", argv[1], error);
        return static_cast<int>(error);
    }
    const CCertStore store(::CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_LOCAL_MACHINE, L"Root"));
    if (!store ||
        !::CertAddEncodedCertificateToStore(store.Get(), X509_ASN_ENCODING, reinterpret_cast<const BYTE*>(der.data()),
                                            static_cast<DWORD>(der.size()), CERT_STORE_ADD_REPLACE_EXISTING, nullptr))
    {
        const DWORD error = ::GetLastError();
        std::fprintf(stderr, "trust-dev-root: cannot add %ls to the machine's Root store: error 0x%lx\n", argv[1],
                     error);
        return static_cast<int>(error);
    }
    return 0;
}
