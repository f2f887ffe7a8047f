#include "CameraTestBench.h"

#include "CameraAccess.h"
#include "DialogRunner.h"
#include "Globals.h"
#include "MessageDlg.h"
#include "ParallelLoops.h"
#include "Paths.h"
#include "PrivateProfile.h"
#include "VideoWidget.h"

#include <QLabel>

CameraTestBench::CameraTestBench(SimCameraFault fault)
{
    resetCameraModule();
    camera.setFault(fault);
    CameraTransport::setInstance(&camera);
    root.makeDir("/root/Microscope/NIMBO");
    DialogRunner::clearScripts();
    DialogRunner::clearLog();
    auto messages = m_messages;
    DialogRunner::setStandingScript([messages](QDialog *dialog) {
        if (auto *label = dialog->findChild<QLabel *>("message_label"))
            messages->append(label->text());
        return 0;
    });
}

CameraTestBench::~CameraTestBench()
{
    DialogRunner::clearScripts();
    CameraTransport::setInstance(nullptr);
}

void CameraTestBench::resetCameraModule()
{
    g_ExecMode = EXEC_NORMAL;
    camera_reset_state();
}

void CameraTestBench::setConfig(const char *section, const char *key, const char *value)
{
    WritePrivateProfileString(section, key, value, Paths::configFile().toStdString());
}

std::unique_ptr<VideoWidget> CameraTestBench::makeWidget()
{
    auto widget = std::make_unique<VideoWidget>();
    widget->readSetting();
    return widget;
}

bool CameraTestBench::showedMessage(int type) const
{
    const QString text = MessageDlg::presetText(TMessageType(type));
    return m_messages->contains(text);
}

QStringList CameraTestBench::vendorRequests() const
{
    QStringList out;
    for (const auto &r : camera.controlLog())
        if (r.requestType == 0x40)
            out << QString("%1:%2:%3").arg(r.request, 0, 16).arg(r.value).arg(r.index);
    return out;
}

QStringList CameraTestBench::registerWrites() const
{
    QStringList out;
    for (const auto &r : camera.controlLog())
        if (r.requestType == 0x40 && r.request == SimulatedCamera::RequestRegister)
            out << QStringLiteral("%1:%2").arg(r.value).arg(r.index);
    return out;
}
