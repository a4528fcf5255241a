#pragma once
// The engine's error codes: why a run ended in state 7 (Failed). Codes 1 to 5 are the original ones;
// the others were added for failures found in the field. Every code is distinct, none is ever
// reused, and an owner maps them to its own report: the install helper reports 1 and 2 as -1 and
// every other code as -2, kr-install exits with 10 + the code.
//
// Whatever the code, a failed run keeps everything already in place: extracted packages keep their
// markers, installed files stay, and partial downloads stay in the staging folder with what
// validates them, so that the next run goes on from there.
enum KrInstallerError : int
{
    KrErrorNone = 0,
    // 1: Connect failed at the start: the server's file-list cache could not be reached (two tries).
    KrErrorConnect = 1,
    // 2: the file list could not be downloaded: the server refused it or does not have it (three
    //    tries; transient faults such as a 503 are retried with back-off without this limit).
    KrErrorCacheDownload = 2,
    // 3: the downloaded file list cannot be read or cannot be trusted.
    KrErrorCacheUnreadable = 3,
    // 4: the file list's version is 257 or less.
    KrErrorCacheTooOld = 4,
    // 5: the installation directory could not be scanned.
    KrErrorScan = 5,
    // 6: files of the update could not be written (a locked or read-only file, a name or path the
    //    file system refuses); the next run fetches them again.
    KrErrorInstallFiles = 6,
    // 7: the server refused a file of the release three times: 404 or 410 for a file of the list or
    //    an item, or another answer that repeats (a redirect, 403, a 200 without the headers needed).
    KrErrorRemoteFile = 7,
    // 8: a package could not be extracted on three attempts (a damaged zip, an entry no folder can
    //    hold); the packages before and after it are in place with their markers.
    KrErrorPackageExtract = 8,
    // 9: the server announced a size the engine cannot hold (a package, file or item of 4 GiB or
    //    more); never taken as the end of the release.
    KrErrorRemoteSize = 9,
    // 10: one of the engine's threads could not be created.
    KrErrorThreadStart = 10,
    // 11: an engine thread met an unexpected exception; it was caught at the thread's entry.
    KrErrorInternal = 11,
    // Signed releases (a build with a release key) only:
    // 12: the release's manifest is missing, does not verify with the build's key, or names another
    //     package; nothing of the release was trusted.
    KrErrorReleaseUnverified = 12,
    // 13: the manifest's release number is lower than the one last installed here (a rollback).
    KrErrorReleaseRollback = 13,
    // 14: a downloaded file did not match its manifest entry on three clean attempts, or the manifest
    //     does not list it; it never reached the installation.
    KrErrorReleaseMismatch = 14,
};

// A short English name for tools and logs ("connect", "cache download", ...).
const char* KrInstallerErrorName(int code);
