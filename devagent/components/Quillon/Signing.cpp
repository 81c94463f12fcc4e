#include "Signing.h"

#include "WireText.h"
#include "platform/CUniqueHandle.h"
#include "platform/Digest.h"
#include "platform/TextUtil.h"

#include <cstring>

namespace
{

constexpr wchar_t kEmptySha256[] = L"e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855";
constexpr size_t kBlockSize = 64;

bool Sha256(const std::string& first, const std::string& second, BYTE (&digest)[32])
{
    CCryptContext provider;
    CCryptHash hash;
    DWORD length = sizeof(digest);
    return ::CryptAcquireContextW(provider.Put(), nullptr, nullptr, PROV_RSA_AES, CRYPT_VERIFYCONTEXT) &&
           ::CryptCreateHash(provider.Get(), CALG_SHA_256, 0, 0, hash.Put()) &&
           ::CryptHashData(hash.Get(), reinterpret_cast<const BYTE*>(first.data()), static_cast<DWORD>(first.size()),
                           0) &&
           ::CryptHashData(hash.Get(), reinterpret_cast<const BYTE*>(second.data()),
                           static_cast<DWORD>(second.size()), 0) &&
           ::CryptGetHashParam(hash.Get(), HP_HASHVAL, digest, &length, 0) && length == sizeof(digest);
}

SYSTEMTIME SigningTime(const SYSTEMTIME& given)
{
    static const SYSTEMTIME kNone{};
    if (std::memcmp(&given, &kNone, sizeof(kNone)) != 0)
        return given;
    SYSTEMTIME now{};
    ::GetSystemTime(&now);
    return now;
}

} // namespace

bool HmacSha256(const std::string& key, const std::string& message, BYTE (&mac)[32])
{
    std::string block = key;
    if (block.size() > kBlockSize)
    {
        BYTE digest[32];
        if (!Sha256(block, std::string(), digest))
            return false;
        block.assign(reinterpret_cast<const char*>(digest), sizeof(digest));
    }
    block.resize(kBlockSize, '\0');
    std::string inner(kBlockSize, '\0');
    std::string outer(kBlockSize, '\0');
    for (size_t i = 0; i < kBlockSize; ++i)
    {
        inner[i] = static_cast<char>(block[i] ^ 0x36);
        outer[i] = static_cast<char>(block[i] ^ 0x5c);
    }
    BYTE innerDigest[32];
    return Sha256(inner, message, innerDigest) &&
           Sha256(outer, std::string(reinterpret_cast<const char*>(innerDigest), sizeof(innerDigest)), mac);
}

bool BodyHashOfBytes(const void* data, size_t length, std::wstring& hex)
{
    if (data == nullptr || length == 0)
    {
        hex = kEmptySha256;
        return true;
    }
    return Sha256HexOfBuffer(data, length, hex) == ERROR_SUCCESS;
}

bool BodyHashOfFile(const std::wstring& path, std::wstring& hex)
{
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!::GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data))
        return false;
    if (data.nFileSizeHigh == 0 && data.nFileSizeLow == 0)
    {
        hex = kEmptySha256;
        return true;
    }
    return Sha256HexOfFile(path.c_str(), hex) == ERROR_SUCCESS;
}

bool SignRequest(const AuthorizationRecord& record, const std::wstring& verb, const std::wstring& pathAndQuery,
                 const std::wstring& bodyHash, SignatureHeaders& out)
{
    const bool scheme2 = record.m_scheme == kAuthorizationScheme2;
    std::wstring date;
    FormatTimestamp(date, SigningTime(record.m_requestTime), false);
    std::wstring text = verb + L"\n" + (pathAndQuery.empty() ? L"/" : pathAndQuery) + L"\n" + date;
    if (scheme2)
        text += L"\n" + (record.m_signRequest ? bodyHash : std::wstring(kUnsignedPayload));
    BYTE mac[32];
    if (!HmacSha256(record.m_secret, WideToUtf8(text), mac))
        return false;
    const std::string signature = Base64Of(mac, sizeof(mac));
    std::wstring scheme = record.m_schemeName;
    if (scheme.empty())
        scheme = scheme2 ? L"KWS2" : L"KWS";
    out.authorization = scheme + L" " + record.m_authorizationId + L":" +
                        std::wstring(signature.begin(), signature.end());
    out.date = date;
    return true;
}
