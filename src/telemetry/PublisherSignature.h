#pragma once
// Whether a file carries a valid embedded Authenticode signature of one of the agent's trusted publishers.

// True only for an embedded signature that the system's trust provider accepts (an expired signer included)
// whose signer's simple display name is exactly a trusted publisher's. Every other outcome is traced.
[[nodiscard]] bool IsTrustedFile(const wchar_t* path);
