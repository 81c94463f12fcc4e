#pragma once
// The certificate-trust object of the communications component: extra server certificates to trust, per
// domain. Created and released through ICommsWrapper (slots 16 and 17), never deleted. Arguments are wide C
// strings owned by the caller; the object copies what it keeps.
//
// Shared by the plug-in and the stand-in component; binary contract between modules built by this toolchain.

#include "platform/Win.h"

class ICertificateTrust
{
public:
    virtual ~ICertificateTrust() = default;                  // slot 0
    virtual void SetEnabled(bool enabled) = 0;               // slot 1
    // Slot 2: certificates holds count non-null texts, trusted for servers of domain.
    virtual void AddTrustedCertificates(const wchar_t* domain, DWORD count,
                                        const wchar_t* const* certificates) = 0;
};
