// The Base64 decoders fed mutated texts into buffers of every capacity, and the encoders' texts decoded
// back. Fuzz.h says what each case checks and how to run it longer.

#include "Fuzz.h"

#include "platform/Encoding.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace
{

using Coder = bool (*)(const char*, DWORD, BYTE*, DWORD*);
using Encoder = bool (*)(const BYTE*, DWORD, char*, DWORD*);

constexpr BYTE kUnwritten = 0xCC;
constexpr DWORD kSlack = 8; // bytes past the capacity that must stay unwritten

std::string Encoded(Encoder encode, const std::string& bytes)
{
    std::string text(bytes.size() / 3 * 4 + 4, '\0');
    DWORD length = static_cast<DWORD>(text.size());
    if (!encode(reinterpret_cast<const BYTE*>(bytes.data()), static_cast<DWORD>(bytes.size()), text.data(), &length))
        return std::string();
    text.resize(length);
    return text;
}

} // namespace

TEST(EncodingFuzzTest, Base64Decoders)
{
    const struct
    {
        const char* name;
        Encoder encode;
        Coder decode;
    } forms[] = {{"standard ", Base64Encode, Base64Decode}, {"URL-safe ", Base64UrlEncode, Base64UrlDecode}};
    const std::vector<std::string> bytes = {"f", "fo", "foobar", std::string("\xfb\xff\xbf\0\0", 5),
                                            std::string(100, '\xa5')};
    std::vector<std::string> texts[2];
    for (size_t f = 0; f < 2; ++f)
        for (const std::string& b : bytes)
            texts[f].push_back(Encoded(forms[f].encode, b));

    CFuzzRun run("Base64 decoders");
    run.ForEachInput([&](int n) {
        const auto& form = forms[n % 2];
        // Every other input: bytes through the encoder and back.
        const bool roundTrip = n % 4 < 2;
        const std::string original = roundTrip ? run.Bytes(bytes) : std::string();
        const std::string text = roundTrip ? Encoded(form.encode, original) : run.Bytes(texts[n % 2]);
        if (roundTrip && original.empty())
            return;
        const DWORD capacity = static_cast<DWORD>(run.Random()() % (text.size() + 2));
        std::vector<BYTE> out(capacity + kSlack, kUnwritten);
        DWORD length = capacity;
        const bool decoded = form.decode(text.data(), static_cast<DWORD>(text.size()), out.data(), &length);
        run.Outcome(form.name + std::string(decoded ? "decoded" : length != capacity ? "needs room" : "refused"));
        run.Expect(std::all_of(out.begin() + capacity, out.end(), [](BYTE b) { return b == kUnwritten; }),
                   "written past the capacity");
        if (!decoded)
        {
            run.Expect(std::all_of(out.begin(), out.end(), [](BYTE b) { return b == kUnwritten; }),
                       "a failed decoding wrote to the output");
            run.Expect(length >= capacity, "a failed decoding reported a length that fits");
            if (!roundTrip && length == capacity)
                return;
        }
        else
        {
            run.Expect(length <= capacity, "a decoding longer than the capacity");
        }
        // With the room it asked for, the text decodes, to what was encoded, and its bytes encode to a text
        // that decodes to them again.
        const DWORD needed = length;
        out.assign(needed + kSlack, kUnwritten);
        const bool again = form.decode(text.data(), static_cast<DWORD>(text.size()), out.data(), &length);
        if (!roundTrip && !again)
            return;
        const std::string result(reinterpret_cast<const char*>(out.data()), again ? length : 0);
        run.Expect(again && length <= needed && (!roundTrip || result == original), "the bytes do not decode back");
        const std::string reencoded = Encoded(form.encode, result);
        std::string twice(result.size() + kSlack, '\0');
        DWORD twiceLength = static_cast<DWORD>(twice.size());
        run.Expect(form.decode(reencoded.data(), static_cast<DWORD>(reencoded.size()),
                               reinterpret_cast<BYTE*>(twice.data()), &twiceLength) &&
                       twice.substr(0, twiceLength) == result,
                   "the decoded bytes do not encode and decode back");
    });
    run.ExpectClean(6);
}
