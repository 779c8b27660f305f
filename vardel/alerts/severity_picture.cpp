#include "severity_picture.h"

#include "alert_record.h"

#include <QString>

static void initSeverityPictures() {
    Q_INIT_RESOURCE(severity_pictures);
}

QPixmap SeverityPicture(int severity) {
    switch (severity) {
    case kSeverityCritical:
    case kSeverityWarning:
    case kSeverityInformational:
    case kSeverityNormal:
        break;
    default:
        return {};
    }
    static const bool initialised = (initSeverityPictures(), true);
    (void)initialised;
    return QPixmap(QStringLiteral(":/severity/%1.png").arg(severity));
}

QColor SeverityTextColor(int severity) {
    switch (severity) {
    case kSeverityCritical:
        return QColor(210, 0, 0);
    case kSeverityWarning:
        return QColor(255, 255, 0);
    case kSeverityInformational:
        return QColor(0, 0, 255);
    case kSeverityNormal:
        return QColor(0, 157, 0);
    default:
        return QColor(0, 0, 0);
    }
}
