#pragma once
// Whether a file carries a valid embedded Authenticode signature of one of the agent's trusted publishers.

#include "platform/Win.h"

// True only for an embedded signature that the system's trust provider accepts (an expired signer included)
// whose signer's simple display name is exactly a trusted publisher's. Every other outcome is traced.
[[nodiscard]] bool IsTrustedFile(const wchar_t* path);

// The system's generic Authenticode verification of one file (WinVerifyTrust, no user interface, no revocation
// checks, the provider's flags as given), its state closed again: 0 or the trust provider's result.
[[nodiscard]] LONG VerifyAuthenticode(const wchar_t* path, DWORD providerFlags = 0);
