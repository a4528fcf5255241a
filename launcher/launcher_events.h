#pragma once
// The launcher's metrics events.
#include <cstdint>

class CKrInstallerEvents;

// An event with no keys beyond its type and time.
void QueueLauncherEvent(uint32_t eventType);
// 10009: the URL protocol registration's outcome.
void QueueProtocolEvent(bool success, uint32_t errorCode);
// 10003: the login, with the platform and the versions.
void QueueLoginEvent();
// 10007: a new tenth of the installation progress.
void QueueProgressEvent(uint32_t percentage);
// The engine's events 10005 ("new_install") and 10006, sent as metrics events; one shared instance.
CKrInstallerEvents& LauncherInstallerEvents();
