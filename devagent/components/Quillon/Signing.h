#pragma once
// The "Authorization" header of signed requests (schemes "KWS" and "KWS2"; the README gives the exact
// form): HMAC-SHA256 with the record's secret over the verb, the path and query, the signing date and, for
// "KWS2", the body's SHA-256.

#include "host/AuthorizationRecord.h"

#include <string>

// Stands for the body's hash when the record does not ask to sign the request body (data services).
constexpr wchar_t kUnsignedPayload[] = L"UNSIGNED-PAYLOAD";
constexpr wchar_t kSignatureDateHeader[] = L"X-Signature-Date";

struct SignatureHeaders
{
    std::wstring authorization;   // value of "Authorization"
    std::wstring date;            // value of kSignatureDateHeader
};

// bodyHash: lower-case hex SHA-256 of the body, or kUnsignedPayload. False when hashing fails.
bool SignRequest(const AuthorizationRecord& record, const std::wstring& verb, const std::wstring& pathAndQuery,
                 const std::wstring& bodyHash, SignatureHeaders& out);

// Lower-case hex SHA-256 of bytes (any length, none included) or of a file; false on failure.
bool BodyHashOfBytes(const void* data, size_t length, std::wstring& hex);
bool BodyHashOfFile(const std::wstring& path, std::wstring& hex);

// RFC 2104 HMAC with SHA-256; false when the CryptoAPI cannot hash.
bool HmacSha256(const std::string& key, const std::string& message, BYTE (&mac)[32]);
