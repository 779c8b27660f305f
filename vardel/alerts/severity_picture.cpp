#include "vardel/alerts/severity_picture.h"

#include "vardel/alerts/alert_record.h"

#include <QString>
#include <cmath>

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

// Yellow and the lighter green cannot be read on a light field, nor blue and
// black on a dark one: warnings are dark amber and normal alerts dark green,
// so that every severity reads on one light field.
QColor SeverityTextColor(int severity) {
    switch (severity) {
    case kSeverityCritical:
        return QColor(210, 0, 0);
    case kSeverityWarning:
        return QColor(128, 96, 0);
    case kSeverityInformational:
        return QColor(0, 0, 255);
    case kSeverityNormal:
        return QColor(0, 120, 0);
    default:
        return QColor(0, 0, 0);
    }
}

namespace {

constexpr double kReadableContrast = 4.5;

double channel(int value) {
    const double c = value / 255.0;
    return c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
}

double luminance(const QColor& colour) {
    const QColor rgb = colour.toRgb();
    return 0.2126 * channel(rgb.red()) + 0.7152 * channel(rgb.green()) + 0.0722 * channel(rgb.blue());
}

} // namespace

double ContrastRatio(const QColor& a, const QColor& b) {
    const double la = luminance(a);
    const double lb = luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

QColor SeverityFieldBackground(const QColor& readOnlyBackground) {
    const int severities[] = {kSeverityCritical, kSeverityWarning, kSeverityInformational, kSeverityNormal,
                              0};
    for (int severity : severities)
        if (ContrastRatio(SeverityTextColor(severity), readOnlyBackground) < kReadableContrast)
            return QColor(255, 255, 255);
    return readOnlyBackground;
}
