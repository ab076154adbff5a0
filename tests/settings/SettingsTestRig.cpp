#include "SettingsTestRig.h"

#include "core/IniFile.h"
#include "core/RuntimeError.h"

namespace kallomir::test {

QList<LineDeviceInfo> ScriptedLine::devices() const {
    ++devicesCalls;
    if (hideAfterCalls >= 0 && devicesCalls > hideAfterCalls)
        return {};
    return list;
}

void ScriptedLine::open(int) {
    ++openAttempts;
    if (failOpen)
        throw RuntimeError(kLineDeviceError, QStringLiteral("line busy"));
}

SettingsRig::SettingsRig() {
    home.initConfiguration();
    line.list = {{QStringLiteral("Line A"), 0x00020001, 0x8 | 0x1000},
                 {QStringLiteral("Fax Only"), 0x00020000, 0x20},
                 {QStringLiteral("Line B"), 0x00030000, 0x8 | 0x4}};
    audio.addInput({QStringLiteral("Card In 1"), {}, 0x0F});
    audio.addInput({QStringLiteral("Card In 2"), {}, 0xFF});
    audio.addOutput({QStringLiteral("Card Out 1"), 0xFF});
    audio.addOutput({QStringLiteral("Card Out 2"), 0x03});
    ctx().line = &line;
    ctx().audio = &audio;
    ctx().forms = &forms;
    session = std::make_unique<RecorderSession>(ctx());
    tapi = &session->amTapiPro1();
    wave = &session->amWavePro1();
    forms.fakeRecorder.recorderSession = session.get();
    ctx().mixer = &card;
}

QString SettingsRig::setting(const QString& key) const {
    return home.store.GetSetting(QStringLiteral("kallomir"), QStringLiteral("Settings"), key,
                                 QStringLiteral("<absent>"));
}

void SettingsRig::store(const QString& key, const QString& value) {
    home.store.SaveSetting(QStringLiteral("kallomir"), QStringLiteral("Settings"), key, value);
}

QString SettingsRig::ini(const QString& section, const QString& key) const {
    return IniFile(home.config.iniFile).read(section, key, QStringLiteral("<absent>"));
}

}  // namespace kallomir::test
