#pragma once
// Archives extracted side by side must not write the same file: two writers of one file would
// interleave their bytes, and a result of the listed size and time would pass verification. Each
// extraction claims the paths it writes; a claim that meets a path already claimed waits until that
// extraction is done, so such archives are extracted one after the other, in the order they were
// taken, as with a single extraction thread.
//
// Paths are compared by a key coarser than any file system's own comparison (case, "\\" and "/",
// trailing dots and spaces, non-ASCII letters and their case partners), so that two names of one
// file always meet; names that can stand for a DOS short name ("~" then a digit) meet every name.
// A claim keeps a 64-bit hash per key: a collision only makes two archives wait for each other.
#include "services/mutex.h"

#include <cstdint>
#include <string>
#include <vector>

class CKrExtractClaims
{
public:
    class Claim
    {
    public:
        // A path the archive writes; a trailing "/" or "\\" marks a directory, which meets no other
        // path (directories shared by two archives are harmless).
        void Add(const std::string& path);
        // Once every path is in.
        void Seal();

    private:
        friend class CKrExtractClaims;
        std::vector<uint64_t> m_keys; // sorted; the lowest bit marks directories
        bool m_meetsAll = false;
    };

    // True, with `id` holding the claim, when it meets none of the claims held; false leaves
    // nothing held. The claim must stay alive while it is held.
    bool TryHold(uint64_t id, const Claim& claim);
    void Release(uint64_t id);

private:
    static std::string ConflictKey(const std::string& path, bool* meetsAll);
    static bool Meet(const Claim& a, const Claim& b);

    struct Held
    {
        uint64_t id;
        const Claim* claim;
    };
    CKrMutex m_mutex;
    std::vector<Held> m_held;
};
