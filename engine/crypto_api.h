#pragma once
// A CryptoAPI-like layer over Nettle with the semantics of the platform's RSA
// providers, so that containers move between this program and the original
// platform: same call sequence, same results, same failure codes in the last
// error.
#include <QString>
#include <cstdint>

struct CryptProvider;
struct CryptHash;
struct CryptKey;
using HCRYPTPROV = CryptProvider*;
using HCRYPTHASH = CryptHash*;
using HCRYPTKEY = CryptKey*;

inline constexpr uint32_t PROV_RSA_FULL = 1;
inline constexpr uint32_t CRYPT_VERIFYCONTEXT = 0xF0000000u;
inline constexpr uint32_t CALG_MD5 = 0x8003;
inline constexpr uint32_t CALG_RC2 = 0x6602;
inline constexpr uint32_t CRYPT_CREATE_SALT = 0x00000004;
inline constexpr uint32_t KP_BLOCKLEN = 8;
inline constexpr uint32_t KP_EFFECTIVE_KEYLEN = 19;

inline constexpr uint32_t NTE_BAD_LEN = 0x80090004u;
inline constexpr uint32_t NTE_BAD_DATA = 0x80090005u;
inline constexpr uint32_t NTE_BAD_HASH = 0x80090002u;
inline constexpr uint32_t NTE_BAD_KEY = 0x80090003u;
inline constexpr uint32_t NTE_BAD_ALGID = 0x80090008u;
inline constexpr uint32_t NTE_BAD_FLAGS = 0x80090009u;
inline constexpr uint32_t NTE_BAD_TYPE = 0x8009000Au;
inline constexpr uint32_t NTE_BAD_UID = 0x80090001u;
inline constexpr uint32_t NTE_KEYSET_NOT_DEF = 0x80090019u;
inline constexpr uint32_t NTE_FAIL = 0x80090020u;

inline constexpr const char16_t* MS_DEF_PROV = u"Microsoft Base Cryptographic Provider v1.0";
inline constexpr const char16_t* MS_ENHANCED_PROV =
    u"Microsoft Enhanced Cryptographic Provider v1.0";

// `providerName` null means the default provider (the Base one).
bool CryptAcquireContextW(HCRYPTPROV* provider, const char16_t* containerName,
                          const char16_t* providerName, uint32_t provType, uint32_t flags);
bool CryptReleaseContext(HCRYPTPROV provider, uint32_t flags);
bool CryptCreateHash(HCRYPTPROV provider, uint32_t algId, HCRYPTKEY key, uint32_t flags,
                     HCRYPTHASH* hash);
bool CryptHashData(HCRYPTHASH hash, const uint8_t* data, uint32_t length, uint32_t flags);
bool CryptDestroyHash(HCRYPTHASH hash);
bool CryptDeriveKey(HCRYPTPROV provider, uint32_t algId, HCRYPTHASH hash, uint32_t flags,
                    HCRYPTKEY* key);
bool CryptDestroyKey(HCRYPTKEY key);
bool CryptSetKeyParam(HCRYPTKEY key, uint32_t param, const uint8_t* data, uint32_t flags);
bool CryptGetKeyParam(HCRYPTKEY key, uint32_t param, uint8_t* data, uint32_t* dataLength,
                      uint32_t flags);
// In place; `*length` is the data in, the result out. A final call pads with
// n bytes of value n (1..8) and fails with ERROR_MORE_DATA past `bufferLength`.
bool CryptEncrypt(HCRYPTKEY key, HCRYPTHASH hash, bool final, uint32_t flags, uint8_t* data,
                  uint32_t* length, uint32_t bufferLength);
// A final call checks and removes the padding: NTE_BAD_DATA when it is wrong,
// NTE_BAD_LEN for no data at all.
bool CryptDecrypt(HCRYPTKEY key, HCRYPTHASH hash, bool final, uint32_t flags, uint8_t* data,
                  uint32_t* length);
// Beyond the CryptoAPI, for splitting one piece of a decryption between two
// threads (CBC decryption depends only on ciphertext). A non-final
// CryptDecrypt of the first `head` bytes of `length` (both whole blocks) that
// leaves the rest undecrypted, hands out the chain the rest continues from, and
// moves the key's chain past the whole piece.
bool CryptDecryptHead(HCRYPTKEY key, uint8_t* data, uint32_t length, uint32_t head,
                      uint8_t tailChain[8]);
// Decrypts whole blocks after `chain` without touching the key's chain: it only
// reads the key, so it may run beside another thread's CryptDecrypt.
bool CryptDecryptTail(HCRYPTKEY key, const uint8_t chain[8], uint8_t* data, uint32_t length);
bool CryptGenRandom(HCRYPTPROV provider, uint32_t length, uint8_t* buffer);

// The Enhanced provider is always installed here; tests and the GUI turn it
// off to walk the path of a device that lacks it.
void SetEnhancedProviderAvailable(bool available);
