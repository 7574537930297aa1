#include "gui/DemodulatorSetting.h"

#include <QSettings>

namespace {

const QString Key = QStringLiteral("demodulator");

// ~/.config/zeltextreceiver/ZELTextReceiver.conf, or under $XDG_CONFIG_HOME.
QSettings UserSettings() {
    return {QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("zeltextreceiver"),
            QStringLiteral("ZELTextReceiver")};
}

} // namespace

TDemodulatorKind SavedDemodulator() {
    const QString Name = UserSettings().value(Key).toString();
    return DemodulatorNamed(Name.toStdString()).value_or(TDemodulatorKind::Crossing);
}

void SaveDemodulator(TDemodulatorKind Demodulator) {
    UserSettings().setValue(Key, Demodulator == TDemodulatorKind::Matched
                                     ? QStringLiteral("matched")
                                     : QStringLiteral("crossing"));
}
