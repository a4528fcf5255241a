#pragma once
// The launcher's metrics events.
#include <cstdint>

// An event with no keys beyond its type and time.
void QueueLauncherEvent(uint32_t eventType);
// 10009: the URL protocol registration's outcome.
void QueueProtocolEvent(bool success, uint32_t errorCode);
// 10003: the login, with the platform and the versions.
void QueueLoginEvent();
// 10007: a new tenth of the installation progress.
void QueueProgressEvent(uint32_t percentage);
