// Draws the notify window offscreen with one alert of each severity and saves
// each picture as notify-<severity>.png in the given directory.

#include "bench/support/screenshots.h"
#include "vardel/alerts/alert_record.h"
#include "vardel/alerts/alert_store.h"
#include "vardel/alerts/notify_window.h"

#include <QApplication>
#include <QDir>
#include <memory>

namespace {

struct NoCounter : AlertCounter {
    void AdjustAlertCount(const std::string&, int) override {}
    void ResetAlertCounts() override {}
};

struct Sample {
    const char* file;
    std::int16_t severity;
    const char* description;
    const char* alertText;
};

} // namespace

int main(int argc, char** argv) {
    const std::optional<QDir> out = screenshots::outputDirectory(argc, argv);
    if (!out)
        return 2;
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);

    const Sample samples[] = {
        {"notify-critical.png", kSeverityCritical, "Fan failure", "Fan 2 failed on SRV1"},
        {"notify-warning.png", kSeverityWarning, "Temperature above threshold",
         "Temperature of CPU0 is 71 degrees"},
        {"notify-informational.png", kSeverityInformational, "Backup completed", "Backup of VOL1 completed"},
        {"notify-normal.png", kSeverityNormal, "Power supply restored", "Power supply 1 is back to normal"},
    };
    for (const Sample& sample : samples) {
        SilentAnnouncer silent;
        AlertStore store{&silent};
        ConsoleSettings settings;
        settings.managementServerName = "ms.example";
        settings.browserPath = "firefox";
        NoCounter counter;
        auto record = std::make_unique<AlertRecord>();
        record->dateTime = "March 05, 2001, 14:07:33";
        record->serverName = "SRV1";
        record->description = sample.description;
        record->alertText = sample.alertText;
        record->severity = sample.severity;
        record->sequence = 1;
        store.alerts.push_front(std::move(record));
        store.count = 1;

        CNotifyWindow window(NotifyWindowContext{store, settings, counter, {}, {}, {}});
        window.ShowAlert(1);
        if (!screenshots::save(window, *out, sample.file))
            return 1;
    }
    return 0;
}
