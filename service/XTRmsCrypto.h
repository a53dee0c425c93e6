// Password hashing and the audit chain's digests through Windows CNG.
#pragma once

#include "XTSecret.h"

#include <string>
#include <vector>

namespace XTRmsCrypto
{
// Cryptographically random bytes (BCryptGenRandom); empty on failure.
std::vector<unsigned char> RandomBytes(size_t nCount);

// PBKDF2-HMAC-SHA256 of the UTF-8 form of strPassword; nKeyLength bytes, or
// empty on failure (also for zero iterations or a password that is not
// well-formed UTF-16). Every intermediate buffer is wiped.
std::vector<unsigned char> Pbkdf2Sha256(const std::wstring& strPassword, const std::vector<unsigned char>& vecSalt,
    unsigned int nIterations, size_t nKeyLength = 32);

// SHA-256 of the bytes; empty on failure.
std::vector<unsigned char> Sha256(const void* pData, size_t nLength);
// SHA-256 of the UTF-8 form of the text (a lone surrogate counts as U+FFFD),
// as lowercase hex.
std::wstring Sha256Hex(const std::wstring& strText);

// Lowercase hex and back; FromHex reads either case and gives false (and no
// bytes) for malformed text.
std::wstring ToHex(const std::vector<unsigned char>& vecBytes);
bool FromHex(const std::wstring& strHex, std::vector<unsigned char>* pvecBytes);

// Compares in time that depends only on the lengths.
bool ConstantTimeEqual(const std::vector<unsigned char>& a, const std::vector<unsigned char>& b);

// Wipes and empties: the tree's one helper (XTSecret.h), named here too.
using XTSecret::Wipe;
} // namespace XTRmsCrypto
