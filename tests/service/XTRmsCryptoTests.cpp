// Password hashing and digests against published vectors, through CNG as Wine provides it.
#include "XTRmsCrypto.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace XTRmsCrypto;

namespace
{
std::vector<unsigned char> Bytes(const std::string& str)
{
    return std::vector<unsigned char>(str.begin(), str.end());
}

struct SPbkdf2Case
{
    const wchar_t* pszPassword;
    const char* pszSalt;
    unsigned int nIterations;
    size_t nKeyLength;
    const wchar_t* pszExpected; // empty: the call must fail
};

// RFC 7914 section 11, the usual PBKDF2-HMAC-SHA256 vectors, and non-ASCII
// passwords whose keys python3's hashlib.pbkdf2_hmac derived from the UTF-8 bytes.
const SPbkdf2Case kPbkdf2Cases[] = {
    {L"passwd", "salt", 1, 64,
        L"55ac046e56e3089fec1691c22544b605f94185216dde0465e68b9d57c20dacbc"
        L"49ca9cccf179b645991664b39d77ef317c71b845b1e30bd509112041d3a19783"},
    {L"Password", "NaCl", 80000, 64,
        L"4ddcd8f60b98be21830cee5ef22701f9641a4418d04c0414aeff08876b34ab56"
        L"a1d425a1225833549adb841b51c9b3176a272bdebba1d078478f62b397f33c8d"},
    {L"password", "salt", 1, 32, L"120fb6cffcf8b32c43e7225256c4f837a86548c92ccc35480805987cb70be17b"},
    {L"password", "salt", 2, 32, L"ae4d0c95af6b46d32d0adff928f06dd02a303f8ef3c251dfd6e2d85a95474c43"},
    {L"password", "salt", 4096, 32, L"c5e478d59288c841aa530db6845c4c8d962893a001ce4e11a4963873aa98134a"},
    {L"p\u00e4ss", "salz", 3, 32, L"b5bcb46b0d23295b01f13f847183614f4ca1edc3c0d19a7a56ba0709a13e785a"},
    {L"p\u00e4ss\U0001F511", "salz", 3, 32, L"73cd8696dc505ee692a9ae548c8150309b6fbbb497460f5be542c11e4944b290"},
    {L"", "salt", 1, 32, L"f135c27993baf98773c5cdb40a5706ce6a345cde61b000a67858650cd6a324d7"},
    {L"password", "salt", 0, 32, L""},
    {L"p\xD800ss", "salt", 1, 32, L""},
};
} // namespace

TEST(XTRmsCryptoPbkdf2, KnownAnswers)
{
    for (const SPbkdf2Case& c : kPbkdf2Cases)
    {
        SCOPED_TRACE(testing::Message() << "password #" << (&c - kPbkdf2Cases) << ", c=" << c.nIterations);
        const std::vector<unsigned char> vecKey = Pbkdf2Sha256(
            c.pszPassword, Bytes(c.pszSalt), c.nIterations, c.nKeyLength);
        EXPECT_EQ(ToHex(vecKey), c.pszExpected);
    }
}

TEST(XTRmsCryptoSha256, KnownAnswersForBytesAndText)
{
    const struct
    {
        std::string strMessage;
        const wchar_t* pszExpected;
    } aCases[] = {
        {"", L"e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        {"abc", L"ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
            L"248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
    };
    for (const auto& c : aCases)
    {
        EXPECT_EQ(ToHex(Sha256(c.strMessage.data(), c.strMessage.size())), c.pszExpected) << c.strMessage;
        EXPECT_EQ(Sha256Hex(std::wstring(c.strMessage.begin(), c.strMessage.end())), c.pszExpected) << c.strMessage;
    }
    // Text is hashed as UTF-8.
    EXPECT_EQ(Sha256Hex(L"\u00e4\u20ac"), L"2fb8a79d88df89f8370b312db3ff68fd6aa857549cc41a685b4022e99e5fc5a2");
    EXPECT_TRUE(Sha256(nullptr, 1).empty());
}

TEST(XTRmsCryptoHex, RoundTripAndMalformedText)
{
    const std::vector<unsigned char> vecBytes = {0x00, 0x0f, 0x10, 0x7f, 0x80, 0xab, 0xff};
    EXPECT_EQ(ToHex(vecBytes), L"000f107f80abff");

    std::vector<unsigned char> vecRead = {1, 2, 3};
    EXPECT_TRUE(FromHex(L"000F107f80ABff", &vecRead));
    EXPECT_EQ(vecRead, vecBytes);
    EXPECT_TRUE(FromHex(L"", &vecRead));
    EXPECT_TRUE(vecRead.empty());

    for (const wchar_t* pszBad : {L"abc", L"0g", L"g0", L"12 4", L"0x12", L"/0", L":0", L"@0", L"`0", L"G0"})
    {
        vecRead = {1};
        EXPECT_FALSE(FromHex(pszBad, &vecRead)) << pszBad;
        EXPECT_TRUE(vecRead.empty()) << pszBad;
    }
    EXPECT_FALSE(FromHex(L"00", nullptr));
}

TEST(XTRmsCryptoCompare, EqualDifferentAndDifferentLength)
{
    const std::vector<unsigned char> vecA = {1, 2, 3, 4};
    EXPECT_TRUE(ConstantTimeEqual(vecA, vecA));
    EXPECT_TRUE(ConstantTimeEqual({}, {}));
    // A difference anywhere counts, the last byte and a single bit included.
    EXPECT_FALSE(ConstantTimeEqual(vecA, {0, 2, 3, 4}));
    EXPECT_FALSE(ConstantTimeEqual(vecA, {1, 2, 3, 5}));
    EXPECT_FALSE(ConstantTimeEqual(vecA, {1, 2, 3}));
    EXPECT_FALSE(ConstantTimeEqual({1, 2, 3}, vecA));
    EXPECT_FALSE(ConstantTimeEqual(vecA, {}));
}

TEST(XTRmsCryptoRandom, RequestedLengthAndFreshBytes)
{
    EXPECT_TRUE(RandomBytes(0).empty());
    const std::vector<unsigned char> vecFirst = RandomBytes(32);
    const std::vector<unsigned char> vecSecond = RandomBytes(32);
    ASSERT_EQ(vecFirst.size(), 32u);
    ASSERT_EQ(vecSecond.size(), 32u);
    EXPECT_NE(vecFirst, vecSecond);
    EXPECT_NE(vecFirst, std::vector<unsigned char>(32, 0));
    EXPECT_EQ(RandomBytes(1000).size(), 1000u);
}

TEST(XTRmsCryptoWipe, LeavesEmptyContainers)
{
    std::vector<unsigned char> vecBytes = {1, 2, 3};
    std::wstring strWide = L"a password longer than the small-string buffer";
    std::string strNarrow = "secret";
    Wipe(vecBytes);
    Wipe(strWide);
    Wipe(strNarrow);
    EXPECT_TRUE(vecBytes.empty());
    EXPECT_TRUE(strWide.empty());
    EXPECT_TRUE(strNarrow.empty());
    // The storage behind the end is zero as well, what a shorter content left included.
    std::string strShortened = "a secret longer than fifteen characters";
    strShortened.resize(3);
    Wipe(strShortened);
    for (size_t i = 0; i < strShortened.capacity(); ++i)
        EXPECT_EQ(strShortened.data()[i], '\0') << i;
}
