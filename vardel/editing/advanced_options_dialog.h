#pragma once
// The Advanced Options dialog (143): the management server, the polling
// period and retry count, DHCP, and the alert sound. Created with the current
// values, run with exec(), read back whichever button closed it.

#include "vardel/store/console_settings.h"

#include <QDialog>
#include <cstdint>
#include <memory>
#include <string>

namespace Ui {
class CAdvancedOptionsDlg;
}

struct AdvancedOptions {
    std::int32_t retry = 7;
    std::int32_t pollTime = 3; // minutes
    std::string managementServerName;
    std::string soundFile;
    std::uint32_t port = 80;
    std::uint8_t useSsl = 0;
    std::uint8_t useDhcp = 0;
    std::uint8_t playSound = 0;
    // Outstanding alerts kept in memory.
    std::int32_t alertCeiling = kDefaultAlertCeiling;
    // Traps group: "Receive standard traps", "Show unclassified traps".
    std::uint8_t receiveStandardTraps = 0;
    std::uint8_t showUnclassifiedTraps = 0;
    // Every alert also goes to the desktop's notification service.
    std::uint8_t desktopNotifications = 0;
    // Quiet hours ("HH:MM" to "HH:MM") and flapping limits.
    std::uint8_t quietHours = 0;
    std::string quietHoursStart = "22:00";
    std::string quietHoursEnd = "07:00";
    std::uint8_t flapping = 0;
    std::int32_t flappingChanges = 4;
    std::int32_t flappingMinutes = 15;
    // "Accept traps only with the server's community".
    std::uint8_t checkTrapCommunity = 0;
};

class CAdvancedOptionsDlg : public QDialog {
    Q_OBJECT

public:
    // The settings' text fields hold this many bytes.
    static constexpr int kTextLimit = 255;

    CAdvancedOptionsDlg(QWidget* parent, const AdvancedOptions& values);
    ~CAdvancedOptionsDlg() override;

    // After Save: what the user set. After Cancel: the values given, except
    // the retry count of a Save refused for its poll time, already taken.
    const AdvancedOptions& values() const { return m_values; }

private:
    void OnSave();

    std::unique_ptr<Ui::CAdvancedOptionsDlg> m_ui;
    AdvancedOptions m_values;
};
