#include "launcher/launcher_events.h"

#include "install/installer.h"
#include "install/installer_events.h"
#include "launcher/launcher.h"
#include "services/metrics.h"

namespace
{

void SetUnsigned(CKrJsonDocument& doc, const char* key, uint32_t value)
{
    doc.scratch.SetType(CKrVariant::kUnsigned);
    doc.scratch.SetUnsigned(value);
    doc.Set(key, doc.scratch, CKrJsonDocument::kKindUnsigned);
}

} // namespace

void QueueLauncherEvent(uint32_t eventType)
{
    CKrJsonDocument doc;
    CreateEvent(doc, eventType);
    QueueEvent(doc);
}

void QueueProtocolEvent(bool success, uint32_t errorCode)
{
    CKrJsonDocument doc;
    CreateEvent(doc, kr::launcher::kEventProtocolRegistered);
    doc.scratch.SetType(CKrVariant::kInt);
    doc.scratch.SetInt(success ? 1 : 0);
    doc.Set("success", doc.scratch, CKrJsonDocument::kKindBool);
    SetUnsigned(doc, "error_code", errorCode);
    QueueEvent(doc);
}

void QueueLoginEvent()
{
    CKrJsonDocument doc;
    CreateEvent(doc, kr::launcher::kEventLogin);
    doc.scratch.SetType(CKrVariant::kInt);
    doc.scratch.SetInt(0);
    doc.Set("platform", doc.scratch, CKrJsonDocument::kKindInt);
    SetUnsigned(doc, "launcher_version", kr::launcher::kLauncherVersion);
    SetUnsigned(doc, "game_version", 0);
    QueueEvent(doc);
}

void QueueProgressEvent(uint32_t percentage)
{
    CKrJsonDocument doc;
    CreateEvent(doc, kr::launcher::kEventProgress);
    SetUnsigned(doc, "percentage", percentage);
    QueueEvent(doc);
}

namespace
{

class MetricsInstallerEvents : public CKrInstallerEvents
{
public:
    void OnInstallStarted(bool newInstall) override
    {
        CKrJsonDocument doc;
        CreateEvent(doc, CKrInstaller::kEventInstallStarted);
        doc.scratch.SetType(CKrVariant::kInt);
        doc.scratch.SetInt(newInstall ? 1 : 0);
        doc.Set("new_install", doc.scratch, CKrJsonDocument::kKindBool);
        QueueEvent(doc);
    }
    void OnInstallFinished() override { QueueLauncherEvent(CKrInstaller::kEventInstallFinished); }
};

} // namespace

CKrInstallerEvents& LauncherInstallerEvents()
{
    static MetricsInstallerEvents events;
    return events;
}
