#pragma once
// New UUIDs as text: lower-case hexadecimal 8-4-4-4-12, optionally in braces.

#include "platform/Win.h"

#include <rpc.h>

#include <string>

// The status of UuidCreate (RPC_S_OK, or RPC_S_UUID_LOCAL_ONLY for one unique only on this machine), or of
// the conversion to text. out is filled for both of UuidCreate's successes and left as it was otherwise.
RPC_STATUS NewUuidText(std::wstring& out, bool braced);
