#include "comms/CAESCypher.h"

#include "CipherVectors.h"
#include "Fuzz.h"
#include "TraceCapture.h"
#include "platform/Digest.h"
#include "platform/Encoding.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace
{

constexpr GUID kCipherUnit = trace::ParseGuid("6b1f0d3e-95a2-4c47-b8e6-2f4a7c1d9e58");

std::string Hex(const BYTE* data, DWORD length)
{
    char text[129];
    DWORD capacity = sizeof(text);
    return HexEncode(data, length, text, &capacity) ? std::string(text, capacity) : std::string();
}

// A cipher the transform cannot use: a stream cipher has no blocks, a key may be refused or missing.
struct CUnusableCypher : CAESCypher
{
    ALG_ID algorithm = CALG_RC4;
    bool applies = true;
    DWORD keyBytes = 16;

    ALG_ID GetAlgorithmId() const override { return algorithm; }
    bool ApplyKeyParameters(HCRYPTKEY) override { return applies; }
    bool GetKey(BYTE* buffer, DWORD* size) override
    {
        const bool fits = buffer != nullptr && *size >= keyBytes;
        if (fits)
            std::fill(buffer, buffer + keyBytes, BYTE{0x5A});
        *size = keyBytes;
        return fits;
    }
};

} // namespace

TEST(CAESCypherTest, KeyAndIvAreThoseOfPbkdf2)
{
    CAESCypher cypher;
    DWORD size = 0;
    EXPECT_FALSE(cypher.GetKey(nullptr, &size));
    EXPECT_EQ(32u, size);
    BYTE key[32];
    ASSERT_TRUE(cypher.GetKey(key, &size));
    EXPECT_EQ(kReferenceKeyHex, Hex(key, size));

    // Another password and salt: the key Python's hashlib.pbkdf2_hmac gives for them. Empty ones change nothing.
    EXPECT_FALSE(cypher.SetPassword(""));
    EXPECT_FALSE(cypher.SetSalt(""));
    ASSERT_TRUE(cypher.SetPassword("password"));
    ASSERT_TRUE(cypher.SetSalt("NaCl"));
    ASSERT_TRUE(cypher.GetKey(key, &size));
    EXPECT_EQ("972cb30859405299335490ca28f4a5d4fc891ab9aeb3eddd5c4750949095d8aa", Hex(key, size));
    std::string cipher;
    std::string plain;
    ASSERT_TRUE(cypher.Encrypt("setting", cipher));
    ASSERT_TRUE(cypher.Decrypt(cipher, plain));
    EXPECT_EQ("setting", plain);
}

TEST(CAESCypherTest, MatchesOpensslBothWays)
{
    for (const CipherVector& vector : kCipherVectors)
    {
        SCOPED_TRACE(vector.plain);
        CAESCypher cypher;
        std::string base64;
        ASSERT_TRUE(cypher.EncryptToBase64(vector.plain, base64));
        EXPECT_EQ(vector.base64, base64);
        std::string plain = "stale";
        ASSERT_TRUE(cypher.DecryptFromBase64(vector.base64, plain));
        EXPECT_EQ(vector.plain, plain);
    }
    // A whole block of plain text gets a whole block of padding.
    std::string base64;
    ASSERT_TRUE(CAESCypher().EncryptToBase64(std::string(16, 'x'), base64));
    EXPECT_EQ(44u, base64.size());
}

TEST(CAESCypherTest, BadInputOrACipherWithoutBlocksFailsAndLeavesTheOutput)
{
    CAESCypher cypher;
    std::string cipher;
    ASSERT_TRUE(cypher.Encrypt("some setting", cipher));
    // Tampered, cut or non-Base64 texts are the fuzz case's; nothing at all is refused before the provider.
    std::string plain = "kept";
    EXPECT_FALSE(cypher.Decrypt("", plain));
    CTraceCapture capture(CTraceCapture::Route::TraceMessage, kTraceLevelError, kTraceFlagEvents);
    EXPECT_FALSE(cypher.Decrypt(cipher + "1234567", plain)); // a partial block after a whole one
    EXPECT_EQ("kept", plain);
    EXPECT_TRUE(capture.Has(kCipherUnit, 19));
    // trace 0: refused before the provider is asked.
    const struct
    {
        ALG_ID algorithm;
        bool applies;
        DWORD keyBytes;
        ULONG trace;
    } rows[] = {
        {CALG_RC4, true, 16, 18},
        {CALG_AES_256, false, 32, 12},
        {CALG_AES_256, true, 7, 12},
        {CALG_AES_256, true, 0, 0},
    };
    for (const auto& row : rows)
    {
        SCOPED_TRACE(testing::Message() << "row " << (&row - rows));
        capture.Clear();
        CUnusableCypher unusable;
        unusable.algorithm = row.algorithm;
        unusable.applies = row.applies;
        unusable.keyBytes = row.keyBytes;
        EXPECT_FALSE(unusable.EncryptToBase64("plain", plain));
        EXPECT_EQ("kept", plain);
        EXPECT_EQ(row.trace != 0, !capture.Messages().empty());
        EXPECT_EQ(row.trace != 0, capture.Has(kCipherUnit, row.trace));
    }
}

TEST(CAESCypherTest, HmacSha1MatchesThePublishedValue)
{
    // RFC 2202, test case 2.
    const std::string key = "Jefe";
    const std::string data = "what do ya want for nothing?";
    BYTE mac[20];
    ASSERT_TRUE(HmacSha1(std::vector<BYTE>(key.begin(), key.end()), reinterpret_cast<const BYTE*>(data.data()),
                         static_cast<DWORD>(data.size()), mac));
    EXPECT_EQ("effcdf6ae5eb2fa2d27416d5f184df9c259a7c79", Hex(mac, 20));
}

// Mutated cipher texts, as bytes and as Base64: a refusal leaves the output alone; whatever is deciphered
// enciphers back to the very text it came from.
TEST(CommsReadersFuzzTest, CipherDecryption)
{
    // A live provider context keeps the provider's library loaded: each decryption's own acquisition then costs
    // a fraction of a millisecond under Wine instead of a library load.
    const CDigestProviders providers;
    CAESCypher cypher;
    std::vector<std::string> ciphers, base64s;
    for (const std::string& plain :
         std::vector<std::string>{R"({"ProxyConfig":[{"source":"explicit","proxyList":"p1:8080"}]})", "", "secret",
                                  std::string(100, '\xa5')})
    {
        std::string cipher, base64;
        ASSERT_TRUE(cypher.Encrypt(plain, cipher) && cypher.EncryptToBase64(plain, base64));
        ciphers.push_back(cipher);
        base64s.push_back(base64);
    }
    CFuzzRun run("cipher decryption", 5); // about 10 ms of the provider for a deciphered input under Wine
    run.ForEachInput([&](int n) {
        const bool fromBase64 = n % 2 != 0;
        const std::string input = fromBase64 ? run.Bytes(base64s) : run.Bytes(ciphers);
        std::string plain = "untouched";
        const bool deciphered = fromBase64 ? cypher.DecryptFromBase64(input, plain) : cypher.Decrypt(input, plain);
        run.Outcome(std::string(fromBase64 ? "base64 " : "bytes ") + (deciphered ? "deciphered" : "refused"));
        if (!deciphered)
        {
            run.Expect(plain == "untouched", "a refused text changed the output");
            return;
        }
        std::string cipher = input;
        if (fromBase64)
        {
            DWORD length = static_cast<DWORD>(input.size());
            run.Expect(Base64Decode(input.data(), length, reinterpret_cast<BYTE*>(cipher.data()), &length),
                       "a text that is no Base64 was deciphered");
            cipher.resize(length);
        }
        std::string again;
        run.Expect(cypher.Encrypt(plain, again) && again == cipher, "what was deciphered enciphers to another text");
    });
    run.ExpectClean(3); // a mutated Base64 text that still deciphers is rare in a short run
}
