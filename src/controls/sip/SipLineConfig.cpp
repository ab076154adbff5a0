#include "controls/sip/SipLineConfig.h"

#include "core/IniFile.h"

#include <QFile>

#include <QFileInfo>
#include <QHostAddress>
#include <QRegularExpression>

#include <algorithm>
#include <optional>

#include <sys/stat.h>

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

std::optional<bool> parseYesNo(const QString& text) {
    const QString t = text.trimmed().toLower();
    if (t == u"yes" || t == u"true" || t == u"1" || t == u"si" || t == u"sì")
        return true;
    if (t == u"no" || t == u"false" || t == u"0")
        return false;
    return std::nullopt;
}

// "host", "host:port", "sip:host" -> "sip:host..."; "sips:" stays.
QString sipUri(const QString& text) {
    const QString t = text.trimmed();
    if (t.isEmpty() || t.startsWith(u"sip:", Qt::CaseInsensitive) ||
        t.startsWith(u"sips:", Qt::CaseInsensitive)) {
        return t;
    }
    return QStringLiteral("sip:") + t;
}

// A SIP address the line can send to: no blanks, quotes or header breaks.
bool usableSipUri(const QString& uri) {
    static const QRegularExpression safe(
        QStringLiteral("^sips?:[A-Za-z0-9.:\\[\\]@;=_+~!*'()&$%-]+$"),
        QRegularExpression::CaseInsensitiveOption);
    return safe.match(uri).hasMatch();
}

bool validNetwork(const QString& entry) {
    if (entry.contains(u'/')) {
        const auto subnet = QHostAddress::parseSubnet(entry);
        return !subnet.first.isNull();
    }
    return validAddress(entry);
}

const QStringList kKnownCodecs{QStringLiteral("G722"), QStringLiteral("OPUS"),
                               QStringLiteral("PCMU"), QStringLiteral("PCMA")};

}  // namespace

QString SipLineConfig::mediaAddress() const {
    if (!advertisedAddress.isEmpty())
        return advertisedAddress;
    return listenAddress;
}

QString SipLineConfig::withTransport(const QString& uri) const {
    if (uri.isEmpty() || transport == SipTransport::Udp ||
        uri.contains(QStringLiteral(";transport="), Qt::CaseInsensitive) ||
        uri.startsWith(u"sips:", Qt::CaseInsensitive)) {
        return uri;
    }
    return uri + (transport == SipTransport::Tls ? QStringLiteral(";transport=tls")
                                                 : QStringLiteral(";transport=tcp"));
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

        const QString transport =
            ini.read(section, QStringLiteral("Transport"), QStringLiteral("udp"))
                .trimmed()
                .toLower();
        if (transport == u"udp") {
            c.transport = SipTransport::Udp;
        } else if (transport == u"tcp") {
            c.transport = SipTransport::Tcp;
        } else if (transport == u"tls") {
            c.transport = SipTransport::Tls;
            c.listenPort = 5061;
        } else {
            bad(QStringLiteral("Transport"), QStringLiteral("expected udp, tcp or tls"));
        }

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
        c.registrar = sipUri(ini.read(section, QStringLiteral("Registrar"), QString()));
        if (!c.registrar.isEmpty() && !usableSipUri(c.registrar))
            bad(QStringLiteral("Registrar"), QStringLiteral("not a usable SIP address"));
        c.proxy = sipUri(ini.read(section, QStringLiteral("Proxy"), QString()));
        if (!c.proxy.isEmpty() && !usableSipUri(c.proxy))
            bad(QStringLiteral("Proxy"), QStringLiteral("not a usable SIP address"));
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
                if (kKnownCodecs.contains(n)) {
                    if (!c.codecs.contains(n))
                        c.codecs << n;
                } else {
                    bad(QStringLiteral("Codecs"), QStringLiteral("unknown codec ") + n);
                }
            }
            if (c.codecs.isEmpty())
                bad(QStringLiteral("Codecs"), QStringLiteral("no codec left"));
        }

        c.tlsCaFile = ini.read(section, QStringLiteral("TlsCaFile"), QString()).trimmed();
        if (!c.tlsCaFile.isEmpty() && !QFileInfo(c.tlsCaFile).isReadable())
            bad(QStringLiteral("TlsCaFile"), QStringLiteral("no readable file ") + c.tlsCaFile);
        c.tlsCertificate = ini.read(section, QStringLiteral("TlsCertificate"), QString()).trimmed();
        if (!c.tlsCertificate.isEmpty() && !QFileInfo(c.tlsCertificate).isReadable()) {
            bad(QStringLiteral("TlsCertificate"),
                QStringLiteral("no readable file ") + c.tlsCertificate);
        }
        const QString selfSigned =
            ini.read(section, QStringLiteral("TlsAllowSelfSigned"), QString());
        if (!selfSigned.isEmpty()) {
            const auto v = parseYesNo(selfSigned);
            if (v)
                c.tlsAllowSelfSigned = *v;
            else
                bad(QStringLiteral("TlsAllowSelfSigned"), QStringLiteral("expected yes or no"));
        }
        const QString encryption =
            ini.read(section, QStringLiteral("MediaEncryption"), QStringLiteral("none"))
                .trimmed()
                .toLower();
        if (encryption == u"none") {
            c.mediaEncryption = MediaEncryption::None;
        } else if (encryption == u"srtp") {
            c.mediaEncryption = MediaEncryption::SrtpRequired;
        } else if (encryption == u"srtp-optional") {
            c.mediaEncryption = MediaEncryption::SrtpOptional;
        } else {
            bad(QStringLiteral("MediaEncryption"),
                QStringLiteral("expected none, srtp or srtp-optional"));
        }
        const QString allow = ini.read(section, QStringLiteral("AllowFrom"), QString(), 4096);
        for (const QString& entry :
             allow.split(QRegularExpression(QStringLiteral("[,\\s]+")), Qt::SkipEmptyParts)) {
            if (validNetwork(entry))
                c.allowFrom << entry;
            else
                bad(QStringLiteral("AllowFrom"),
                    QStringLiteral("not an address or range: ") + entry);
        }
        ok &= readInt(ini, section, QStringLiteral("InvitesPerMinute"), 0, 6000, c.invitesPerMinute,
                      problems);
        const QString silence = ini.read(section, QStringLiteral("SendSilence"), QString());
        if (!silence.isEmpty()) {
            const auto v = parseYesNo(silence);
            if (v)
                c.sendSilence = *v;
            else
                bad(QStringLiteral("SendSilence"), QStringLiteral("expected yes or no"));
        }
        if (c.mediaEncryption != MediaEncryption::None && c.transport != SipTransport::Tls) {
            c.warnings << QStringLiteral(
                              "Linea %1: MediaEncryption senza Transport=tls, le chiavi "
                              "della cifratura viaggiano in chiaro")
                              .arg(c.name);
        }

        for (const SipLineConfig& other : lines) {
            if (other.name.compare(c.name, Qt::CaseInsensitive) == 0) {
                bad(QStringLiteral("Name"), QStringLiteral("used by an earlier line"));
            }
        }
        if (ok)
            lines.push_back(c);
    }
    const QString permission = linesFilePermissionWarning(iniPath, lines);
    if (!permission.isEmpty()) {
        for (SipLineConfig& line : lines) line.warnings.prepend(permission);
    }
    return lines;
}

QString linesFilePermissionWarning(const QString& iniPath,
                                   const std::vector<SipLineConfig>& lines) {
    const bool password = std::any_of(lines.begin(), lines.end(),
                                      [](const SipLineConfig& c) { return !c.password.isEmpty(); });
    struct stat st {};
    if (!password || ::stat(QFile::encodeName(iniPath).constData(), &st) != 0)
        return {};
    if ((st.st_mode & (S_IRWXG | S_IRWXO)) == 0)
        return {};
    return QStringLiteral(
               "Il file %1 contiene password ed è accessibile ad altri utenti: rendilo "
               "privato con chmod 600 %1")
        .arg(iniPath);
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
