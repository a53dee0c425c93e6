#include "XTRmsCrypto.h"

#include <windows.h>

#include <bcrypt.h>

#include <climits>

namespace
{
const size_t kSha256Length = 32;

// CNG takes ULONG lengths; larger inputs are fed in pieces of this size.
const size_t kMaxChunk = 0x40000000;

// Opening a provider is the expensive part of a CNG call, and the audit chain
// hashes row after row, so both providers are opened once. CNG lets several
// threads use one algorithm handle at a time. The handles stay open for the
// life of the process: closing them from a static destructor would call into
// bcrypt.dll from our DllMain at process exit.
struct SAlgorithms
{
    BCRYPT_ALG_HANDLE hHmacSha256 = nullptr;
    BCRYPT_ALG_HANDLE hSha256 = nullptr;

    SAlgorithms()
    {
        if (!BCRYPT_SUCCESS(::BCryptOpenAlgorithmProvider(
                &hHmacSha256, BCRYPT_SHA256_ALGORITHM, nullptr, BCRYPT_ALG_HANDLE_HMAC_FLAG)))
            hHmacSha256 = nullptr;
        if (!BCRYPT_SUCCESS(::BCryptOpenAlgorithmProvider(&hSha256, BCRYPT_SHA256_ALGORITHM, nullptr, 0)))
            hSha256 = nullptr;
    }
};

const SAlgorithms& Algorithms()
{
    static const SAlgorithms algorithms;
    return algorithms;
}

// UTF-8 form of the text into pstrUtf8, which the caller wipes. With bStrict,
// ill-formed UTF-16 (a lone surrogate) is refused; otherwise it becomes U+FFFD
// as everywhere else in Windows.
bool ToUtf8(const std::wstring& strText, bool bStrict, std::string* pstrUtf8)
{
    pstrUtf8->clear();
    if (strText.empty())
        return true;
    if (strText.size() > static_cast<size_t>(INT_MAX) / 3)
        return false;
    const DWORD dwFlags = bStrict ? WC_ERR_INVALID_CHARS : 0;
    const int nChars = static_cast<int>(strText.size());
    const int nBytes = ::WideCharToMultiByte(CP_UTF8, dwFlags, strText.data(), nChars, nullptr, 0, nullptr, nullptr);
    if (nBytes <= 0)
        return false;
    // Sized once, so that no reallocation leaves a copy of a password behind.
    pstrUtf8->resize(static_cast<size_t>(nBytes));
    return ::WideCharToMultiByte(CP_UTF8, dwFlags, strText.data(), nChars, &(*pstrUtf8)[0], nBytes, nullptr, nullptr) ==
        nBytes;
}

int HexDigit(wchar_t ch)
{
    if (ch >= L'0' && ch <= L'9')
        return ch - L'0';
    if (ch >= L'a' && ch <= L'f')
        return ch - L'a' + 10;
    if (ch >= L'A' && ch <= L'F')
        return ch - L'A' + 10;
    return -1;
}
} // namespace

namespace XTRmsCrypto
{
std::vector<unsigned char> RandomBytes(size_t nCount)
{
    std::vector<unsigned char> vecBytes(nCount);
    for (size_t nDone = 0; nDone < nCount;)
    {
        const size_t nChunk = (nCount - nDone < kMaxChunk) ? nCount - nDone : kMaxChunk;
        if (!BCRYPT_SUCCESS(::BCryptGenRandom(
                nullptr, vecBytes.data() + nDone, static_cast<ULONG>(nChunk), BCRYPT_USE_SYSTEM_PREFERRED_RNG)))
        {
            Wipe(vecBytes);
            return vecBytes;
        }
        nDone += nChunk;
    }
    return vecBytes;
}

std::vector<unsigned char> Pbkdf2Sha256(const std::wstring& strPassword, const std::vector<unsigned char>& vecSalt,
    unsigned int nIterations, size_t nKeyLength)
{
    std::vector<unsigned char> vecKey;
    const BCRYPT_ALG_HANDLE hPrf = Algorithms().hHmacSha256;
    if (hPrf == nullptr || nIterations == 0 || nKeyLength == 0 || nKeyLength > ULONG_MAX || vecSalt.size() > ULONG_MAX)
        return vecKey;

    // Strict: two passwords that differ only in ill-formed characters must not
    // share a hash, so such a password is refused rather than replaced.
    std::string strUtf8;
    if (!ToUtf8(strPassword, true, &strUtf8) || strUtf8.size() > ULONG_MAX)
    {
        Wipe(strUtf8);
        return vecKey;
    }

    // CNG wants non-null buffers even for an empty password or salt.
    unsigned char chEmpty = 0;
    PUCHAR pbPassword = strUtf8.empty() ? &chEmpty : reinterpret_cast<PUCHAR>(&strUtf8[0]);
    PUCHAR pbSalt = vecSalt.empty() ? &chEmpty : const_cast<PUCHAR>(vecSalt.data());

    vecKey.resize(nKeyLength);
    const NTSTATUS status = ::BCryptDeriveKeyPBKDF2(hPrf, pbPassword, static_cast<ULONG>(strUtf8.size()), pbSalt,
        static_cast<ULONG>(vecSalt.size()), nIterations, vecKey.data(), static_cast<ULONG>(vecKey.size()), 0);
    Wipe(strUtf8);
    if (!BCRYPT_SUCCESS(status))
        Wipe(vecKey);
    return vecKey;
}

std::vector<unsigned char> Sha256(const void* pData, size_t nLength)
{
    std::vector<unsigned char> vecDigest;
    const BCRYPT_ALG_HANDLE hAlgorithm = Algorithms().hSha256;
    if (hAlgorithm == nullptr || (pData == nullptr && nLength != 0))
        return vecDigest;

    // Since Windows 7 CNG keeps the hash object itself when given no buffer.
    BCRYPT_HASH_HANDLE hHash = nullptr;
    if (!BCRYPT_SUCCESS(::BCryptCreateHash(hAlgorithm, &hHash, nullptr, 0, nullptr, 0, 0)))
        return vecDigest;

    bool bOk = true;
    const unsigned char* pBytes = static_cast<const unsigned char*>(pData);
    for (size_t nDone = 0; bOk && nDone < nLength;)
    {
        const size_t nChunk = (nLength - nDone < kMaxChunk) ? nLength - nDone : kMaxChunk;
        bOk = BCRYPT_SUCCESS(
            ::BCryptHashData(hHash, const_cast<PUCHAR>(pBytes + nDone), static_cast<ULONG>(nChunk), 0));
        nDone += nChunk;
    }
    if (bOk)
    {
        vecDigest.resize(kSha256Length);
        if (!BCRYPT_SUCCESS(::BCryptFinishHash(hHash, vecDigest.data(), static_cast<ULONG>(vecDigest.size()), 0)))
            vecDigest.clear();
    }
    ::BCryptDestroyHash(hHash);
    return vecDigest;
}

std::wstring Sha256Hex(const std::wstring& strText)
{
    // Lenient: the audit chain must hash every row it is given, and a lone
    // surrogate in a stored name becomes U+FFFD as it would anywhere in Windows.
    std::string strUtf8;
    if (!ToUtf8(strText, false, &strUtf8))
        return std::wstring();
    return ToHex(Sha256(strUtf8.data(), strUtf8.size()));
}

std::wstring ToHex(const std::vector<unsigned char>& vecBytes)
{
    static const wchar_t kHexDigits[] = L"0123456789abcdef";
    std::wstring strHex;
    strHex.reserve(vecBytes.size() * 2);
    for (unsigned char b : vecBytes)
    {
        strHex += kHexDigits[b >> 4];
        strHex += kHexDigits[b & 0x0F];
    }
    return strHex;
}

bool FromHex(const std::wstring& strHex, std::vector<unsigned char>* pvecBytes)
{
    if (pvecBytes == nullptr)
        return false;
    pvecBytes->clear();
    if (strHex.size() % 2 != 0)
        return false;
    // Upper case is accepted too: hashes copied by hand into a database should
    // still verify.
    std::vector<unsigned char> vecBytes;
    vecBytes.reserve(strHex.size() / 2);
    for (size_t i = 0; i < strHex.size(); i += 2)
    {
        const int nHigh = HexDigit(strHex[i]);
        const int nLow = HexDigit(strHex[i + 1]);
        if (nHigh < 0 || nLow < 0)
            return false;
        vecBytes.push_back(static_cast<unsigned char>((nHigh << 4) | nLow));
    }
    pvecBytes->swap(vecBytes);
    return true;
}

bool ConstantTimeEqual(const std::vector<unsigned char>& a, const std::vector<unsigned char>& b)
{
    // Lengths are not secret (every stored hash has the same one); contents are.
    if (a.size() != b.size())
        return false;
    // volatile keeps the compiler from turning the loop into an early exit.
    volatile unsigned char chDifference = 0;
    for (size_t i = 0; i < a.size(); ++i)
        chDifference = chDifference | static_cast<unsigned char>(a[i] ^ b[i]);
    return chDifference == 0;
}
} // namespace XTRmsCrypto
