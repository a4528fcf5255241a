#pragma once
// The release public key a build carries (CMake cache variable KR_RELEASE_PUBLIC_KEY). Without one,
// releases are not signed and the engine behaves as it always did; with one, the engine must refuse
// anything that does not verify with it.
#include "install/release_crypto.h"

enum class KrReleaseKeyState
{
    None,    // empty: unsigned releases
    Valid,
    Invalid, // set but not 64 hex digits: a broken build, which must refuse every release
};

// Exactly 64 hex digits, either case; empty is None.
KrReleaseKeyState ParseReleaseKey(const char* hex, KrPublicKey* key);

// The compiled-in key.
const char* ConfiguredReleaseKeyHex();
KrReleaseKeyState ConfiguredReleaseKey(KrPublicKey* key);
// True also for an invalid key: such a build must never fall back to unsigned releases.
bool IsReleaseSigningConfigured();
