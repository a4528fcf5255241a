#pragma once

// Hands the engine's metrics event to the metrics layer: 10005 carries "new_install", 10006 nothing.
void QueueInstallerEvent(int eventType, bool newInstall);
