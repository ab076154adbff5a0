#pragma once

#include <QString>
#include <QStringList>

#include <vector>

namespace kallomir {

// One telephone line as the operator configures it in "lines.ini" in the home folder,
// one section per line (see docs/sip-lines.md).
struct SipLineConfig {
    QString name;  // what the settings dialog lists and stores as "Line Device"
    QString listenAddress = QStringLiteral("0.0.0.0");
    int listenPort = 5060;
    QString advertisedAddress;  // put in Contact and SDP; empty: the listen address
    int rtpPortMin = 10000;
    int rtpPortMax = 10999;
    QString user = QStringLiteral("kallomir");  // user part of our own SIP address
    QString registrar;  // e.g. "sip:pbx.example.com"; empty: no registration
    QString authUser;   // empty: user
    QString password;
    int registerInterval = 600;  // seconds
    QString domain;              // turns a dialled number into number@domain
    int ringPeriodMs = 4000;
    QStringList codecs{QStringLiteral("PCMU"), QStringLiteral("PCMA")};

    // The address a far end should send to (SIP Contact, SDP connection line).
    QString mediaAddress() const;
};

// The lines of a lines.ini file in file order. Lines with unusable values are left out and
// each such value is described in problems; absent keys take their defaults.
std::vector<SipLineConfig> loadSipLineConfigs(const QString& iniPath, QStringList* problems);

// "sip:..." or "user@host" are taken as addresses; a number becomes sip:number@domain
// (blanks, dashes, dots and brackets of a written number are dropped). Empty when the text
// cannot become a safe SIP address (characters that would break the request, no domain).
QString sipTargetForDial(const QString& dialled, const QString& domain);

}  // namespace kallomir
