#include "controls/sip/SipLineConfig.h"

#include "core/IniFile.h"

#include <QHostAddress>
#include <QRegularExpression>

namespace kallomir {

namespace {

bool readInt(const IniFile& ini, const QString& section, const QString& key, int low, int high,
             int& target, QStringList* problems) {
    const QString text = ini.read(section, key, QString());
    if (text.isEmpty())
        return true;
    bool ok = false;
    const int v = text.toInt(&ok);
    if (!ok || v < low || v > high) {
        if (problems) {
            *problems << QStringLiteral("[%1] %2=%3: expected a number from %4 to %5")
                             .arg(section, key, text)
                             .arg(low)
                             .arg(high);
        }
        return false;
    }
    target = v;
    return true;
}

bool validAddress(const QString& text) {
    return !QHostAddress(text).isNull();
}

}  // namespace

QString SipLineConfig::mediaAddress() const {
    if (!advertisedAddress.isEmpty())
        return advertisedAddress;
    return listenAddress;
}

std::vector<SipLineConfig> loadSipLineConfigs(const QString& iniPath, QStringList* problems) {
    std::vector<SipLineConfig> lines;
    const IniFile ini(iniPath);
    for (const QString& section : ini.sections()) {
        SipLineConfig c;
        bool ok = true;
        auto bad = [&](const QString& key, const QString& why) {
            if (problems)
                *problems << QStringLiteral("[%1] %2: %3").arg(section, key, why);
            ok = false;
        };
        c.name = ini.read(section, QStringLiteral("Name"), section).trimmed();
        if (c.name.isEmpty())
            c.name = section;

        c.listenAddress = ini.read(section, QStringLiteral("ListenAddress"), c.listenAddress);
        if (!validAddress(c.listenAddress))
            bad(QStringLiteral("ListenAddress"), QStringLiteral("not an IP address"));
        ok &= readInt(ini, section, QStringLiteral("ListenPort"), 1, 65535, c.listenPort, problems);
        c.advertisedAddress = ini.read(section, QStringLiteral("AdvertisedAddress"), QString());
        if (!c.advertisedAddress.isEmpty() && !validAddress(c.advertisedAddress)) {
            bad(QStringLiteral("AdvertisedAddress"), QStringLiteral("not an IP address"));
        }
        ok &= readInt(ini, section, QStringLiteral("RtpPortMin"), 1024, 65534, c.rtpPortMin,
                      problems);
        ok &= readInt(ini, section, QStringLiteral("RtpPortMax"), 1025, 65535, c.rtpPortMax,
                      problems);
        if (c.rtpPortMax <= c.rtpPortMin) {
            bad(QStringLiteral("RtpPortMax"), QStringLiteral("must be above RtpPortMin"));
        }
        c.user = ini.read(section, QStringLiteral("User"), c.user).trimmed();
        if (c.user.isEmpty() || sipTargetForDial(c.user, QStringLiteral("x")).isEmpty()) {
            bad(QStringLiteral("User"), QStringLiteral("not a usable SIP user name"));
        }
        c.registrar = ini.read(section, QStringLiteral("Registrar"), QString()).trimmed();
        if (!c.registrar.isEmpty() && !c.registrar.startsWith(u"sip:")) {
            c.registrar.prepend(QStringLiteral("sip:"));
        }
        c.authUser = ini.read(section, QStringLiteral("AuthUser"), QString()).trimmed();
        c.password = ini.read(section, QStringLiteral("Password"), QString());
        ok &= readInt(ini, section, QStringLiteral("RegisterInterval"), 60, 86400,
                      c.registerInterval, problems);
        c.domain = ini.read(section, QStringLiteral("Domain"), QString()).trimmed();
        ok &= readInt(ini, section, QStringLiteral("RingPeriodMs"), 500, 60000, c.ringPeriodMs,
                      problems);
        const QString codecs = ini.read(section, QStringLiteral("Codecs"), QString());
        if (!codecs.isEmpty()) {
            c.codecs.clear();
            for (const QString& name : codecs.split(u',', Qt::SkipEmptyParts)) {
                const QString n = name.trimmed().toUpper();
                if (n == u"PCMU" || n == u"PCMA") {
                    c.codecs << n;
                } else {
                    bad(QStringLiteral("Codecs"), QStringLiteral("unknown codec ") + n);
                }
            }
            if (c.codecs.isEmpty())
                bad(QStringLiteral("Codecs"), QStringLiteral("no codec left"));
        }
        for (const SipLineConfig& other : lines) {
            if (other.name.compare(c.name, Qt::CaseInsensitive) == 0) {
                bad(QStringLiteral("Name"), QStringLiteral("used by an earlier line"));
            }
        }
        if (ok)
            lines.push_back(c);
    }
    return lines;
}

QString sipTargetForDial(const QString& dialled, const QString& domain) {
    // Only what a SIP URI may carry unescaped; nothing that ends a header or a parameter.
    static const QRegularExpression safeUser(QStringLiteral("^[A-Za-z0-9+*#_.!~'()&=$-]+$"));
    static const QRegularExpression safeHost(QStringLiteral("^[A-Za-z0-9.:\\[\\]-]+$"));
    QString text = dialled.trimmed();
    if (text.startsWith(u"sip:", Qt::CaseInsensitive))
        text = text.mid(4);
    const qsizetype at = text.indexOf(u'@');
    QString user;
    QString host;
    if (at >= 0) {
        user = text.left(at);
        host = text.mid(at + 1);
    } else {
        user = text;
        static const QRegularExpression writtenNumber(QStringLiteral("^[0-9+*# ().-]+$"));
        if (writtenNumber.match(user).hasMatch()) {
            user.remove(QRegularExpression(QStringLiteral("[ ().-]")));
        }
        host = domain.trimmed();
    }
    if (user.isEmpty() || host.isEmpty())
        return {};
    if (!safeUser.match(user).hasMatch() || !safeHost.match(host).hasMatch())
        return {};
    // '#' must be escaped inside a URI.
    user.replace(u'#', QStringLiteral("%23"));
    return QStringLiteral("sip:") + user + u'@' + host;
}

}  // namespace kallomir
