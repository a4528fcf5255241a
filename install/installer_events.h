#pragma once
// The engine's events, reported through an interface its owner supplies (the launcher sends them as
// metrics events 10005 and 10006; the install helper and the tools supply none). The engine library
// itself links no metrics layer. Called on the engine's control thread; an implementation must not
// block for long. An exception thrown here ends the run in state 7 with KrErrorInternal.
class CKrInstallerEvents
{
public:
    virtual ~CKrInstallerEvents() = default;
    // 10005: the run decided what to do. newInstall: a fresh install from packages (true), or an
    // update whose verification queued at least one file (false).
    virtual void OnInstallStarted(bool newInstall) = 0;
    // 10006: the update phase ended with every item done, when it had items or the run was a fresh
    // install.
    virtual void OnInstallFinished() = 0;
};
