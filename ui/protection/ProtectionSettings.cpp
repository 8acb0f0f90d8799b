#include "ui/protection/ProtectionSettings.h"

#include <QLocale>
#include <optional>

namespace tq {
namespace {

const QString kGroup = QStringLiteral("protection");

QString Key(int16_t channel, const char* what) {
    return QStringLiteral("%1.%2").arg(QChar(QLatin1Char(static_cast<char>('A' + channel))),
                                       QLatin1String(what));
}

void Put(QSettings& settings, const QString& key, std::optional<double> value) {
    if (value)
        settings.setValue(key, QString::number(*value, 'g', QLocale::FloatingPointShortest));
    else
        settings.remove(key);
}

// A kept number, nothing when none was kept; throws ValueRangeError for a text that is not one.
std::optional<double> Take(const QSettings& settings, int16_t channel, const char* what,
                           const char* name) {
    const QString key = Key(channel, what);
    if (!settings.contains(key))
        return std::nullopt;
    const QString text = settings.value(key).toString().trimmed();
    bool ok = false;
    const double value = text.toDouble(&ok);
    if (!ok)
        throw ValueRangeError(ChannelName(channel) + ": the kept " + name + " '" +
                              text.left(40).toStdString() + "' is not a number");
    return value;
}

}  // namespace

void SaveProtection(QSettings& settings, const Instrument& instrument) {
    settings.beginGroup(kGroup);
    for (int16_t channel = 0; channel < kChannelCount; ++channel) {
        const ChannelLimits& limits = instrument.Limits(channel);
        Put(settings, Key(channel, "low"), limits.low);
        Put(settings, Key(channel, "high"), limits.high);
        Put(settings, Key(channel, "rampStep"), limits.rampStep);
        Put(settings, Key(channel, "rampWait"),
            limits.rampWaitSeconds != 0.0 ? std::optional<double>(limits.rampWaitSeconds)
                                          : std::nullopt);
    }
    const ProtectionOptions& options = instrument.ProtectionOptionsInEffect();
    settings.setValue(QStringLiteral("safeOnExit"), options.safeOnExit);
    settings.setValue(QStringLiteral("safeOnLastClient"), options.safeOnLastClient);
    settings.setValue(QStringLiteral("safeOnBoardBack"), options.safeOnBoardBack);
    settings.setValue(QStringLiteral("powerOnStatusClear"), instrument.PowerOnStatusClear());
    settings.endGroup();
}

QStringList LoadProtection(QSettings& settings, Instrument& instrument) {
    QStringList problems;
    settings.beginGroup(kGroup);
    for (int16_t channel = 0; channel < kChannelCount; ++channel) {
        try {
            ChannelLimits limits;
            limits.low = Take(settings, channel, "low", "low limit");
            limits.high = Take(settings, channel, "high", "high limit");
            limits.rampStep = Take(settings, channel, "rampStep", "ramp step");
            limits.rampWaitSeconds =
                Take(settings, channel, "rampWait", "wait between ramp steps").value_or(0.0);
            if (limits != ChannelLimits{} || instrument.Limits(channel) != ChannelLimits{})
                instrument.SetLimits(channel, limits);
        } catch (const ValueRangeError& e) {
            problems << QString::fromStdString(e.what());
        }
    }
    ProtectionOptions options;
    options.safeOnExit = settings.value(QStringLiteral("safeOnExit"), false).toBool();
    options.safeOnLastClient = settings.value(QStringLiteral("safeOnLastClient"), false).toBool();
    options.safeOnBoardBack = settings.value(QStringLiteral("safeOnBoardBack"), false).toBool();
    if (options != instrument.ProtectionOptionsInEffect())
        instrument.SetProtectionOptions(options);
    const bool clearEnables = settings.value(QStringLiteral("powerOnStatusClear"), false).toBool();
    if (clearEnables != instrument.PowerOnStatusClear())
        instrument.SetPowerOnStatusClear(clearEnables);
    settings.endGroup();
    return problems;
}

}  // namespace tq
