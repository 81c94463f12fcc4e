#pragma once
// Bytes as text (Base64, URL-safe Base64, lower-case hex) and the plain-text key record that the CryptoAPI
// imports.
//
// The encoders write into the caller's buffer. The length argument carries the buffer's capacity in and the
// produced length out; when the capacity is too small the call fails and stores the length it needs. A false
// result may leave partial output in an encoder's buffer; a decoder's it leaves as it was. Nothing is terminated
// except where said.

#include "platform/Win.h"

#include <wincrypt.h>

#include <memory>
#include <vector>

// Standard alphabet, "=" padding to a multiple of four. A zero length fails.
[[nodiscard]] bool Base64Encode(const BYTE* data, DWORD length, char* out, DWORD* outLength);
// The length must be a non-zero multiple of four; "=" may only end the text (at most two).
[[nodiscard]] bool Base64Decode(const char* text, DWORD length, BYTE* out, DWORD* outLength);

// "-" and "_" instead of "+" and "/", no padding.
[[nodiscard]] bool Base64UrlEncode(const BYTE* data, DWORD length, char* out, DWORD* outLength);
// Missing padding is restored first; a length that leaves 1 after division by four fails.
[[nodiscard]] bool Base64UrlDecode(const char* text, DWORD length, BYTE* out, DWORD* outLength);

// Two characters per byte, high nibble first. A terminating NUL is written only when the capacity leaves
// room for it. A null input, a zero length or a null capacity fail.
[[nodiscard]] bool HexEncode(const BYTE* data, DWORD length, char* out, DWORD* capacity);

// PLAINTEXTKEYBLOB: 8, 2, 0, 0, the algorithm id and the key length (both little-endian), then the key.
// Null when the key is null but its length is not.
std::shared_ptr<const std::vector<BYTE>> MakePlainKeyBlob(const BYTE* key, DWORD length, ALG_ID algorithm);
