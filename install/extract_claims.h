#pragma once
// Archives extracted side by side must not write the same file: two writers of one file would
// interleave their bytes, and a result of the listed size and time would pass verification. Each
// extraction claims the names it writes; a claim that meets a name already claimed waits until that
// extraction is done, so such archives are extracted one after the other, in the order they were
// taken, as with a single extraction thread.
//
// Names are compared by a key coarser than any file system's own comparison (case, "\\" and "/",
// trailing dots and spaces, non-ASCII letters and their case partners), so that two names of one
// file always meet; names that can stand for a DOS short name ("~" then a digit) meet every name.
#include "services/mutex.h"

#include <cstdint>
#include <string>
#include <vector>

class CKrExtractClaims
{
public:
    struct Claim
    {
        std::vector<std::string> keys; // sorted, unique
        bool meetsAll = false;
    };

    static std::string ConflictKey(const std::string& name, bool* meetsAll);
    // The claim of an archive's entry names (directories included: they only meet their own kind).
    static Claim Of(const std::vector<std::string>& names);

    // True, with `id` holding the claim, when it meets none of the claims held; false leaves
    // nothing held.
    bool TryHold(uint64_t id, const Claim& claim);
    void Release(uint64_t id);

private:
    static bool Meet(const Claim& a, const Claim& b);

    struct Held
    {
        uint64_t id;
        const Claim* claim; // owned by the extraction that holds it
    };
    CKrMutex m_mutex;
    std::vector<Held> m_held;
};
