#pragma once
// The cryptography of signed releases, all of it from libsodium: SHA-256 (whole files streamed from
// disk, or bytes as they arrive), Ed25519 keys and signatures, and the hex text keys travel in.
// Nothing here keeps global state besides libsodium's one-time initialisation.
#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

using KrSha256 = std::array<uint8_t, 32>;
using KrPublicKey = std::array<uint8_t, 32>;
using KrSecretKey = std::array<uint8_t, 64>; // libsodium's layout: seed, then the public key
using KrSignature = std::array<uint8_t, 64>;

// Incremental SHA-256, for a download that is checked while it is written.
class CKrSha256
{
public:
    CKrSha256();
    ~CKrSha256();
    CKrSha256(const CKrSha256&) = delete;
    CKrSha256& operator=(const CKrSha256&) = delete;

    void Update(const void* data, size_t size);
    // The digest of everything given since construction or the last Final; starts over afterwards.
    KrSha256 Final();

private:
    alignas(16) unsigned char m_state[128];
};

KrSha256 Sha256Of(const void* data, size_t size);

enum class KrFileHashResult
{
    Ok,
    Missing,    // no such file (or a directory)
    Unreadable, // opened but a read failed
    Cancelled,
};

// Streams the file through SHA-256 in fixed-size blocks, so memory does not grow with the file.
// `size` receives the bytes hashed. `keepRunning`, when given, is polled between blocks: false stops.
KrFileHashResult Sha256File(const std::string& path, KrSha256* digest, uint64_t* size,
                            const std::atomic<bool>* keepRunning = nullptr);
// The same over the files `parts` joined in order (a download kept in byte ranges).
KrFileHashResult Sha256Parts(const std::vector<std::string>& parts, KrSha256* digest, uint64_t* size,
                             const std::atomic<bool>* keepRunning = nullptr);

// Lowercase hex; the parsers take either case, exactly 2 * N digits and nothing else.
std::string ToHex(const uint8_t* data, size_t size);
template <size_t N> std::string ToHex(const std::array<uint8_t, N>& bytes) { return ToHex(bytes.data(), N); }
bool FromHex(const std::string& text, uint8_t* out, size_t size);
template <size_t N> bool FromHex(const std::string& text, std::array<uint8_t, N>* out)
{
    return FromHex(text, out->data(), N);
}

// False only when libsodium cannot start (no usable random source); every function below calls it.
bool KrCryptoInit();

bool GenerateSigningKey(KrPublicKey* publicKey, KrSecretKey* secretKey);
// The public half a secret key carries, after checking that its seed gives that same half: false
// for a damaged secret key.
bool PublicKeyOf(const KrSecretKey& secretKey, KrPublicKey* publicKey);
KrSignature SignMessage(const std::string& message, const KrSecretKey& secretKey);
bool VerifyMessage(const void* message, size_t size, const KrSignature& signature, const KrPublicKey& publicKey);

// Overwrites secrets before their memory is released.
void WipeSecret(void* data, size_t size);
