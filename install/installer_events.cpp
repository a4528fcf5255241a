#include "install/installer_events.h"

#include "install/installer.h"
#include "services/metrics.h"

void QueueInstallerEvent(int eventType, bool newInstall)
{
    CKrJsonDocument doc;
    CreateEvent(doc, static_cast<uint32_t>(eventType));
    if (eventType == CKrInstaller::kEventInstallStarted)
    {
        doc.scratch.SetType(CKrVariant::kInt);
        doc.scratch.SetInt(newInstall ? 1 : 0);
        doc.Set("new_install", doc.scratch, CKrJsonDocument::kKindBool);
    }
    QueueEvent(doc);
}
