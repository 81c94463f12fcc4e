#include "comms/CAESCypher.h"

#include "host/Trace.h"
#include "platform/CUniqueHandle.h"
#include "platform/Encoding.h"

#include <algorithm>
#include <new>

TRACE_UNIT("6b1f0d3e-95a2-4c47-b8e6-2f4a7c1d9e58");

namespace
{

// The built-in secrets, taken as their bytes without a terminator.
constexpr char kPassword[] = "Greetings, my quiet long tailed owl ~";
constexpr char kSalt[] = "Lorimel tabo VesanQ";
constexpr DWORD kIterations = 1000;
constexpr DWORD kIvBytes = 16;
constexpr DWORD kSha1Bytes = 20;
constexpr DWORD kMinimumHmacKey = 8;
// So that the enciphering buffer, twice the text and a block, still fits a DWORD.
constexpr std::size_t kLargestText = 0x7FFFFFEF;

} // namespace

namespace
{

// HMAC-SHA1 under one key: the context and the imported key serve every computation.
class CHmacSha1
{
public:
    explicit CHmacSha1(const std::vector<BYTE>& key)
    {
        if (!::CryptAcquireContextW(m_context.Put(), nullptr, MS_ENHANCED_PROV_W, PROV_RSA_FULL,
                                    CRYPT_VERIFYCONTEXT))
            return;
        // HMAC keys travel as RC2 plain-text keys; the import flag lifts RC2's length limits. Zero padding
        // does not change an HMAC key.
        std::vector<BYTE> padded = key;
        if (padded.size() < kMinimumHmacKey)
            padded.resize(kMinimumHmacKey, 0);
        const auto blob = MakePlainKeyBlob(padded.data(), static_cast<DWORD>(padded.size()), CALG_RC2);
        if (blob)
            ::CryptImportKey(m_context.Get(), blob->data(), static_cast<DWORD>(blob->size()), 0,
                             CRYPT_IPSEC_HMAC_KEY, m_key.Put());
    }

    bool Compute(const BYTE* data, DWORD length, BYTE (&mac)[20])
    {
        CCryptHash hash;
        if (!m_key || !::CryptCreateHash(m_context.Get(), CALG_HMAC, m_key.Get(), 0, hash.Put()))
            return false;
        HMAC_INFO info{};
        info.HashAlgid = CALG_SHA1;
        DWORD size = sizeof(mac);
        return ::CryptSetHashParam(hash.Get(), HP_HMAC_INFO, reinterpret_cast<const BYTE*>(&info), 0) &&
               ::CryptHashData(hash.Get(), data, length, 0) &&
               ::CryptGetHashParam(hash.Get(), HP_HASHVAL, mac, &size, 0) && size == sizeof(mac);
    }

private:
    CCryptContext m_context;
    CCryptKey m_key;
};

} // namespace

bool HmacSha1(const std::vector<BYTE>& key, const BYTE* data, DWORD length, BYTE (&mac)[20])
{
    return CHmacSha1(key).Compute(data, length, mac);
}

bool CCypher::EncryptToBase64(const std::string& plain, std::string& base64)
{
    std::string cipher;
    if (!Encrypt(plain, cipher))
        return false;
    std::string text(4 * ((cipher.size() + 2) / 3), '\0');
    DWORD length = static_cast<DWORD>(text.size());
    if (!Base64Encode(reinterpret_cast<const BYTE*>(cipher.data()), static_cast<DWORD>(cipher.size()), text.data(),
                      &length))
        return false;
    text.resize(length);
    base64 = std::move(text);
    return true;
}

bool CCypher::DecryptFromBase64(const std::string& base64, std::string& plain)
{
    std::string cipher(base64.size() / 4 * 3, '\0');
    DWORD length = static_cast<DWORD>(cipher.size());
    if (!Base64Decode(base64.data(), static_cast<DWORD>(base64.size()), reinterpret_cast<BYTE*>(cipher.data()),
                      &length))
    {
        TRACE_ERROR(kTraceFlagEvents, 10, "enciphered text is not Base64");
        return false;
    }
    cipher.resize(length);
    return Decrypt(cipher, plain);
}

CAESCypher::CAESCypher()
    : m_password(kPassword, kPassword + sizeof(kPassword) - 1), m_salt(kSalt, kSalt + sizeof(kSalt) - 1)
{
}

bool CAESCypher::SetPassword(const std::string& password)
{
    if (password.empty())
        return false;
    m_password.assign(password.begin(), password.end());
    m_key.clear();
    m_iv.clear();
    return true;
}

bool CAESCypher::SetSalt(const std::string& salt)
{
    if (salt.empty())
        return false;
    m_salt.assign(salt.begin(), salt.end());
    m_key.clear();
    m_iv.clear();
    return true;
}

bool CAESCypher::DeriveKey()
{
    if (!m_key.empty())
        return true;
    if (m_password.empty())
        return false;
    const DWORD keyBytes = m_keyBits / 8;
    if (m_salt.empty())
    {
        m_key = m_password;
        m_key.resize(keyBytes, 0);
        return true;
    }
    // PBKDF2: block i is U1 ^ ... ^ U1000 with U1 = HMAC(password, salt || i big-endian), Uj = HMAC(Uj-1).
    const DWORD wanted = keyBytes + kIvBytes;
    std::vector<BYTE> derived;
    CHmacSha1 hmac(m_password);
    for (DWORD block = 1; derived.size() < wanted; ++block)
    {
        std::vector<BYTE> first = m_salt;
        for (int shift = 24; shift >= 0; shift -= 8)
            first.push_back(static_cast<BYTE>(block >> shift));
        BYTE u[kSha1Bytes];
        if (!hmac.Compute(first.data(), static_cast<DWORD>(first.size()), u))
        {
            TRACE_ERROR(kTraceFlagEvents, 11, "cannot derive the cipher key: error %u", ::GetLastError());
            return false;
        }
        BYTE t[kSha1Bytes];
        std::copy(u, u + kSha1Bytes, t);
        for (DWORD i = 1; i < kIterations; ++i)
        {
            BYTE next[kSha1Bytes];
            if (!hmac.Compute(u, kSha1Bytes, next))
            {
                TRACE_ERROR(kTraceFlagEvents, 16, "cannot derive the cipher key at round %u of block %u: error %u",
                            i, block, ::GetLastError());
                return false;
            }
            std::copy(next, next + kSha1Bytes, u);
            for (DWORD b = 0; b < kSha1Bytes; ++b)
                t[b] ^= u[b];
        }
        derived.insert(derived.end(), t, t + kSha1Bytes);
    }
    m_key.assign(derived.begin(), derived.begin() + keyBytes);
    m_iv.assign(derived.begin() + keyBytes, derived.begin() + wanted);
    return true;
}

bool CAESCypher::GetKey(BYTE* buffer, DWORD* size)
{
    if (size == nullptr || !DeriveKey())
        return false;
    const DWORD needed = static_cast<DWORD>(m_key.size());
    const bool fits = buffer != nullptr && *size >= needed;
    if (fits)
        std::copy(m_key.begin(), m_key.end(), buffer);
    *size = needed;
    return fits;
}

bool CAESCypher::ApplyKeyParameters(HCRYPTKEY key)
{
    DWORD mode = CRYPT_MODE_CBC;
    if (!::CryptSetKeyParam(key, KP_MODE, reinterpret_cast<const BYTE*>(&mode), 0))
        return false;
    return m_iv.empty() || ::CryptSetKeyParam(key, KP_IV, m_iv.data(), 0);
}

bool CAESCypher::Transform(const std::string& in, std::string& out, bool encrypt)
{
    DWORD size = 0;
    GetKey(nullptr, &size);
    std::vector<BYTE> keyBytes(size);
    if (size == 0 || !GetKey(keyBytes.data(), &size))
        return false;
    const auto blob = MakePlainKeyBlob(keyBytes.data(), size, GetAlgorithmId());
    CCryptContext context;
    CCryptKey key;
    if (!blob || !::CryptAcquireContextW(context.Put(), nullptr, nullptr, PROV_RSA_AES, CRYPT_VERIFYCONTEXT) ||
        // No CRYPT_IPSEC_HMAC_KEY here: it only concerns HMAC keys, and Wine's provider then makes the AES
        // key an HMAC key that cannot encipher.
        !::CryptImportKey(context.Get(), blob->data(), static_cast<DWORD>(blob->size()), 0, 0, key.Put()) ||
        !ApplyKeyParameters(key.Get()))
    {
        TRACE_ERROR(kTraceFlagEvents, 12, "cannot open the cipher key: error %u", ::GetLastError());
        return false;
    }
    DWORD blockBits = 0;
    DWORD paramSize = sizeof(blockBits);
    if (!::CryptGetKeyParam(key.Get(), KP_BLOCKLEN, reinterpret_cast<BYTE*>(&blockBits), &paramSize, 0))
    {
        TRACE_ERROR(kTraceFlagEvents, 17, "cannot read the cipher's block length: error %u", ::GetLastError());
        return false;
    }
    if (blockBits < 8)
    {
        TRACE_ERROR(kTraceFlagEvents, 18, "the cipher's block length of %u bits is unusable", blockBits);
        return false;
    }
    const std::size_t block = blockBits / 8;
    // The CryptoAPI counts in DWORDs: a longer text would be cut short without a word.
    if (in.size() > kLargestText)
    {
        TRACE_ERROR(kTraceFlagEvents, 14, "text of %llu bytes is too long to encipher",
                    static_cast<unsigned long long>(in.size()));
        return false;
    }
    // Wine's provider deciphers a partial last block as a whole one, writing past the text.
    if (!encrypt && in.size() % block != 0)
    {
        TRACE_ERROR(kTraceFlagEvents, 19, "cipher text of %llu bytes is no whole number of blocks",
                    static_cast<unsigned long long>(in.size()));
        return false;
    }
    std::vector<BYTE> buffer;
    try
    {
        buffer.assign(encrypt ? (2 * in.size() / block + 1) * block : in.size(), 0);
    }
    catch (const std::bad_alloc&)
    {
        TRACE_ERROR(kTraceFlagEvents, 15, "no memory for a cipher buffer of %llu bytes",
                    static_cast<unsigned long long>(in.size()));
        return false;
    }
    std::copy(in.begin(), in.end(), buffer.begin());
    DWORD length = static_cast<DWORD>(in.size());
    const BOOL done = encrypt ? ::CryptEncrypt(key.Get(), 0, TRUE, 0, buffer.data(), &length,
                                               static_cast<DWORD>(buffer.size()))
                              : ::CryptDecrypt(key.Get(), 0, TRUE, 0, buffer.data(), &length);
    if (!done)
    {
        TRACE_ERROR(kTraceFlagEvents, 13, "cipher operation failed: error %u", ::GetLastError());
        return false;
    }
    out.assign(reinterpret_cast<const char*>(buffer.data()), length);
    return true;
}

bool CAESCypher::Encrypt(const std::string& plain, std::string& cipher)
{
    return Transform(plain, cipher, true);
}

bool CAESCypher::Decrypt(const std::string& cipher, std::string& plain)
{
    // Nothing is not a cipher text: even an empty plain text enciphers to one block.
    if (cipher.empty())
        return false;
    return Transform(cipher, plain, false);
}
