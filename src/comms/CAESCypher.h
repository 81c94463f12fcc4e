#pragma once
// Enciphered settings: AES-256-CBC with PKCS #7 padding on the CryptoAPI. Key and IV are derived once, by
// PBKDF2-HMAC-SHA1 (1000 iterations) over the built-in password and salt, so that texts enciphered
// elsewhere with the same scheme (e.g. openssl enc -aes-256-cbc -K -iv) decipher here. Texts are bytes in
// narrow strings; the Base64 forms are standard Base64. A false result leaves the output as it was. There is
// no integrity check: Decrypt takes any whole-block text whose padding checks out, and what it gives enciphers
// back to that very text.

#include "platform/Win.h"

#include <wincrypt.h>

#include <string>
#include <vector>

class ICypher
{
public:
    virtual ~ICypher() = default;                                                       // slot 0
    [[nodiscard]] virtual bool Encrypt(const std::string& plain, std::string& cipher) = 0;           // slot 1
    [[nodiscard]] virtual bool Decrypt(const std::string& cipher, std::string& plain) = 0;           // slot 2
    [[nodiscard]] virtual bool EncryptToBase64(const std::string& plain, std::string& base64) = 0;   // slot 3
    [[nodiscard]] virtual bool DecryptFromBase64(const std::string& base64, std::string& plain) = 0; // slot 4
    virtual ALG_ID GetAlgorithmId() const = 0;                                          // slot 5
    // Derives the key when needed; copies it when *size allows, always reports its length in *size.
    [[nodiscard]] virtual bool GetKey(BYTE* buffer, DWORD* size) = 0;                                 // slot 6
    // CBC mode and, when there is one, the IV.
    [[nodiscard]] virtual bool ApplyKeyParameters(HCRYPTKEY key) = 0;                                 // slot 7
};

// The Base64 forms, on top of any cipher's bytes.
class CCypher : public ICypher
{
public:
    [[nodiscard]] bool EncryptToBase64(const std::string& plain, std::string& base64) override;
    [[nodiscard]] bool DecryptFromBase64(const std::string& base64, std::string& plain) override;
};

class CAESCypher : public CCypher
{
public:
    CAESCypher();

    [[nodiscard]] bool Encrypt(const std::string& plain, std::string& cipher) override;
    [[nodiscard]] bool Decrypt(const std::string& cipher, std::string& plain) override;
    ALG_ID GetAlgorithmId() const override { return m_algorithm; }
    [[nodiscard]] bool GetKey(BYTE* buffer, DWORD* size) override;
    [[nodiscard]] bool ApplyKeyParameters(HCRYPTKEY key) override;

    // Both refuse an empty value; a change discards the derived key and IV.
    [[nodiscard]] bool SetPassword(const std::string& password);
    [[nodiscard]] bool SetSalt(const std::string& salt);

private:
    [[nodiscard]] bool DeriveKey();
    [[nodiscard]] bool Transform(const std::string& in, std::string& out, bool encrypt);

    ALG_ID m_algorithm = CALG_AES_256;
    DWORD m_keyBits = 256;
    std::vector<BYTE> m_password;
    std::vector<BYTE> m_salt;
    std::vector<BYTE> m_key;
    std::vector<BYTE> m_iv;
};

// HMAC-SHA1 of data keyed with key, on the CryptoAPI; false when it cannot be computed.
[[nodiscard]] bool HmacSha1(const std::vector<BYTE>& key, const BYTE* data, DWORD length, BYTE (&mac)[20]);
