#include "install/release_crypto.h"

#include "platform/files.h"

#include <sodium.h>

#include <cstdio>
#include <vector>

static_assert(sizeof(crypto_hash_sha256_state) <= 128, "CKrSha256::m_state is too small");
static_assert(crypto_sign_PUBLICKEYBYTES == 32 && crypto_sign_SECRETKEYBYTES == 64 && crypto_sign_BYTES == 64,
              "key and signature sizes");

namespace {

crypto_hash_sha256_state* State(unsigned char* bytes)
{
    return reinterpret_cast<crypto_hash_sha256_state*>(bytes);
}

} // namespace

bool KrCryptoInit()
{
    // Thread safe and idempotent: 0 the first time, 1 afterwards.
    static const bool ready = sodium_init() >= 0;
    return ready;
}

CKrSha256::CKrSha256()
{
    KrCryptoInit();
    crypto_hash_sha256_init(State(m_state));
}

CKrSha256::~CKrSha256() = default;

void CKrSha256::Update(const void* data, size_t size)
{
    crypto_hash_sha256_update(State(m_state), static_cast<const unsigned char*>(data), size);
}

KrSha256 CKrSha256::Final()
{
    KrSha256 digest;
    crypto_hash_sha256_final(State(m_state), digest.data());
    crypto_hash_sha256_init(State(m_state));
    return digest;
}

KrSha256 Sha256Of(const void* data, size_t size)
{
    KrSha256 digest;
    KrCryptoInit();
    crypto_hash_sha256(digest.data(), static_cast<const unsigned char*>(data), size);
    return digest;
}

KrFileHashResult Sha256File(const std::string& path, KrSha256* digest, uint64_t* size,
                            const std::atomic<bool>* keepRunning)
{
    return Sha256Parts({path}, digest, size, keepRunning);
}

KrFileHashResult Sha256Parts(const std::vector<std::string>& parts, KrSha256* digest, uint64_t* size,
                             const std::atomic<bool>* keepRunning)
{
    *size = 0;
    CKrSha256 hash;
    std::vector<unsigned char> block(256 * 1024);
    KrFileHashResult result = KrFileHashResult::Ok;
    for (const std::string& path : parts)
    {
        if (kr::os::IsDirectory(path))
            return KrFileHashResult::Missing;
        kr::os::UniqueFile file = kr::os::OpenUniqueFile(path, "rb");
        if (!file)
            return KrFileHashResult::Missing;
        for (;;)
        {
            if (keepRunning && !keepRunning->load(std::memory_order_acquire))
                return KrFileHashResult::Cancelled;
            size_t got = std::fread(block.data(), 1, block.size(), file.get());
            hash.Update(block.data(), got);
            *size += got;
            if (got < block.size())
            {
                if (std::ferror(file.get()))
                    result = KrFileHashResult::Unreadable;
                break;
            }
        }
        if (result != KrFileHashResult::Ok)
            break;
    }
    *digest = hash.Final();
    return result;
}

std::string ToHex(const uint8_t* data, size_t size)
{
    std::string text(size * 2 + 1, '\0');
    sodium_bin2hex(&text[0], text.size(), data, size);
    text.pop_back();
    return text;
}

bool FromHex(const std::string& text, uint8_t* out, size_t size)
{
    if (text.size() != size * 2)
        return false;
    size_t length = 0;
    const char* end = nullptr;
    return sodium_hex2bin(out, size, text.data(), text.size(), nullptr, &length, &end) == 0 && length == size &&
           end == text.data() + text.size();
}

bool GenerateSigningKey(KrPublicKey* publicKey, KrSecretKey* secretKey)
{
    return KrCryptoInit() && crypto_sign_keypair(publicKey->data(), secretKey->data()) == 0;
}

bool PublicKeyOf(const KrSecretKey& secretKey, KrPublicKey* publicKey)
{
    if (!KrCryptoInit())
        return false;
    unsigned char seed[crypto_sign_SEEDBYTES];
    KrSecretKey again;
    crypto_sign_ed25519_sk_to_seed(seed, secretKey.data());
    bool ok = crypto_sign_seed_keypair(publicKey->data(), again.data(), seed) == 0 &&
              sodium_memcmp(again.data(), secretKey.data(), again.size()) == 0;
    sodium_memzero(seed, sizeof seed);
    sodium_memzero(again.data(), again.size());
    return ok;
}

KrSignature SignMessage(const std::string& message, const KrSecretKey& secretKey)
{
    KrSignature signature{};
    KrCryptoInit();
    crypto_sign_detached(signature.data(), nullptr, reinterpret_cast<const unsigned char*>(message.data()),
                         message.size(), secretKey.data());
    return signature;
}

bool VerifyMessage(const void* message, size_t size, const KrSignature& signature, const KrPublicKey& publicKey)
{
    return KrCryptoInit() && crypto_sign_verify_detached(signature.data(), static_cast<const unsigned char*>(message),
                                                         size, publicKey.data()) == 0;
}

void WipeSecret(void* data, size_t size)
{
    sodium_memzero(data, size);
}
