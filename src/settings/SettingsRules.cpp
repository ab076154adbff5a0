#include "settings/SettingsRules.h"

#include "controls/TelephonyControl.h"
#include "recorder/RecorderSession.h"
#include "core/AppContext.h"
#include "core/FormLinks.h"
#include "core/VbConvert.h"

namespace kallomir {

QString TapiVersionText(qint32 version) {
    const quint32 bits = static_cast<quint32>(version);
    const quint32 major = (bits & 0xFFFF0000u) / 0x10000u;
    const quint32 minor = bits & 0xFFu;
    return QStringLiteral("TAPI V%1.%2").arg(major).arg(minor);
}

bool IsFolderNameKey(QChar key) {
    const char16_t c = key.unicode();
    return (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z') || (c >= u'0' && c <= u'9') ||
           c == u'\b';
}

bool IsTypedText(const QString& keyText) {
    if (keyText.isEmpty())
        return false;
    for (const QChar c : keyText) {
        if (!c.isPrint())
            return false;
    }
    return true;
}

RingsCheck CheckRings(const QString& text) {
    if (text.isEmpty())
        return RingsCheck::Empty;
    if (!IsWholeNumber(text))
        return RingsCheck::Refused;
    bool ok = false;
    const qlonglong rings = text.trimmed().toLongLong(&ok);
    return ok && rings >= 1 && rings <= 10 ? RingsCheck::Accepted : RingsCheck::Refused;
}

std::optional<double> FolderLimitValue(const QString& text) {
    bool ok = false;
    const double value = text.trimmed().toDouble(&ok);
    if (!ok || !(value >= 0) || value > 1e12)
        return std::nullopt;
    return value;
}

QString PlainFolderName(const QString& recFolder, const QString& folderNumber) {
    const QString suffix = u'/' + folderNumber;
    if (!folderNumber.isEmpty() && recFolder.endsWith(suffix))
        return recFolder.left(recFolder.size() - suffix.size());
    return recFolder;
}

bool TransferSettings(AppContext& ctx) {
    RecorderLink& recorder = ctx.forms->recorder();
    TelephonyControl& tapi = recorder.session().amTapiPro1();
    RetryBudget budget;
    try {
        if (budget.run([&] { return tapi.lineOpen(); }))
            budget.run([&] { tapi.setLineOpen(false); });
        budget.run([&] {
            tapi.setLineName(
                ctx.settings.get(QStringLiteral("Line Device"), QStringLiteral("Not Set")));
        });
        budget.run([&] { tapi.setCallPrivilege(4); });
        budget.run([&] { tapi.setLineOpen(true); });
        return true;
    } catch (const RetryBudget::Exhausted&) {
        // No usable line: record from the sound card's line input instead.
        recorder.setTelephoneSourceEnabled(false);
        recorder.selectLineInSource();
        return false;
    }
}

}  // namespace kallomir
