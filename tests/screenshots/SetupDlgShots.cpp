#include "SetupDlgShots.h"

#include "KeyboardDlg.h"
#include "MessageDlg.h"
#include "Paths.h"
#include "PrivateProfile.h"
#include "SetupDlg.h"
#include "SimSandbox.h"

#include <QComboBox>
#include <QDateTime>
#include <QSpinBox>
#include <QTimer>
#include <QToolBox>

namespace {

const QStringList kPages = {"filter", "objectives", "focus", "camera", "timedate", "misc"};

QWidget *popupFor(const QString &name)
{
    if (name == "keypad") {
        auto *keyboard = new KeyboardDlg;
        keyboard->setCheckUnacceptableNaming(true);
        keyboard->setText("mCherry");
        return keyboard;
    }
    const QMap<QString, QString> texts = {
        {"camera-warning", "<p><b>Warning!</b><br/><br/>If you change the camera mode, the data will be lost.<br/>"
                           "Press OK to continue or Cancel to stay.</p>"},
        {"reset-question", "<p><b>Warning!</b><br/><br/>This will restore the VANTOR S to its factory settings.<br/>"
                           "Do you want to proceed?</p>"},
        {"invalid-date", "<p><b>Error!</b><br/><br/>The date is not valid.</p>"},
        {"wifi-connected", "WiFi connected"},
        {"wifi-not-connected", "WiFi was not connected"}};
    if (!texts.contains(name))
        return nullptr;
    const bool okOnly = name == "invalid-date" || name.startsWith("wifi");
    auto *box = new MessageDlg(okOnly, nullptr);
    box->setMessage(texts[name]);
    if (!okOnly)
        box->setButtonVisibility(MSG_BUTTON_OK_CANCEL);
    return box;
}

} // namespace

QStringList setupDlgShotNames()
{
    return kPages + QStringList{"zstack", "service", "keypad", "camera-warning", "reset-question", "invalid-date",
                                "wifi-connected", "wifi-not-connected", "choice-list"};
}

QWidget *setupDlgShot(const QString &name)
{
    // The simulated instrument's settings where earlier shots left them out.
    SimSandbox::seed();
    const std::string config = Paths::configFile().toStdString();
    std::vector<PrivateProfileEntry> missing;
    for (const SimSandbox::Setting &setting : SimSandbox::defaultSettings()) {
        std::string value;
        if (!ReadPrivateProfileString(setting.section.toStdString(), setting.key.toStdString(), "", value, config))
            missing.push_back({setting.section.toStdString(), setting.key.toStdString(), setting.value.toStdString()});
    }
    if (!missing.empty())
        WritePrivateProfileBatch(missing, config);
    // A dark backdrop where the main window stands; the dialog and its pop-up, windows of their
    // own as in the application, go with it.
    auto *holder = new QWidget(nullptr, Qt::FramelessWindowHint);
    holder->setGeometry(0, 0, 1920, 1080);
    holder->setObjectName("backdrop");
    holder->setStyleSheet("QWidget#backdrop { background-color: rgb(31, 34, 38); }");
    const TExecMode mode = g_ExecMode;
    g_ExecMode = name == "service" || name == "reset-question" ? EXEC_SERIAL_LOG
               : name.startsWith("wifi")                         ? EXEC_QC_TEST
                                                                  : EXEC_NORMAL;
    g_CurrentMenu = MENU_SETTING;
    auto *setup = new SetupDlg(nullptr);
    QObject::connect(holder, &QObject::destroyed, setup, &QObject::deleteLater);
    setup->setLiveMode(true);
    g_ExecMode = mode;
    const QDateTime now = QDateTime::currentDateTime();
    setup->updateCurrentDateTime(now.toString("yyyy/MM/dd"), now.toString("HH:mm"));
    auto *common = setup->findChild<QToolBox *>("COMMON_SETTING_TOOLBOX");
    const int page = kPages.indexOf(name);
    common->setCurrentIndex(page >= 0                    ? page
                            : name == "service"          ? 5
                            : name == "invalid-date"     ? 4
                            : name == "camera-warning"   ? 3
                            : name == "choice-list"      ? 1
                                                         : 0);
    setup->findChild<QToolBox *>("FEATURE_TOOLBOX")->setCurrentIndex(name == "zstack" ? 1 : 0);
    if (name == "invalid-date") {
        setup->findChild<QSpinBox *>("MONTH_SPINBOX")->setValue(2);
        setup->findChild<QSpinBox *>("DAY_SPINBOX")->setValue(31);
    }
    QWidget *popup = popupFor(name);
    if (popup)
        QObject::connect(holder, &QObject::destroyed, popup, &QObject::deleteLater);
    QTimer::singleShot(0, setup, [setup, popup, name] {
        setup->show();
        if (popup)
            QTimer::singleShot(100, popup, [popup] { popup->show(); popup->raise(); });
        if (name == "choice-list") // an objective's type list, open as a finger leaves it
            QTimer::singleShot(100, setup, [setup] { setup->findChild<QComboBox *>("COMBO_LENS_TYPE_1")->showPopup(); });
    });
    return holder;
}
