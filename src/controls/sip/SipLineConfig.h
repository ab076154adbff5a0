#pragma once

#include <QString>
#include <QStringList>

#include <vector>

namespace kallomir {

enum class SipTransport { Udp, Tcp, Tls };

// Whether call audio is encrypted (SRTP with keys exchanged in the session description).
enum class MediaEncryption {
    None,          // plain RTP; offers that insist on SRTP are refused
    SrtpOptional,  // SRTP when the far end offers it, plain RTP otherwise
    SrtpRequired,  // SRTP or no call
};

// One telephone line as the operator configures it in "lines.ini" in the home folder,
// one section per line (see docs/sip-lines.md).
struct SipLineConfig {
    QString name;  // what the settings dialog lists and stores as "Line Device"
    QString listenAddress = QStringLiteral("0.0.0.0");
    int listenPort = 5060;      // 5061 by default for TLS
    QString advertisedAddress;  // put in Contact and SDP; empty: the listen address
    int rtpPortMin = 10000;
    int rtpPortMax = 10999;
    QString user = QStringLiteral("kallomir");  // user part of our own SIP address
    QString registrar;  // e.g. "sip:pbx.example.com"; empty: no registration
    QString proxy;      // outbound proxy every request goes through; empty: none
    QString authUser;   // empty: user
    QString password;
    int registerInterval = 600;  // seconds
    QString domain;              // turns a dialled number into number@domain
    int ringPeriodMs = 4000;
    QStringList codecs{QStringLiteral("G722"), QStringLiteral("OPUS"), QStringLiteral("PCMU"),
                       QStringLiteral("PCMA")};

    SipTransport transport = SipTransport::Udp;
    QString tlsCaFile;                // empty: the system's trusted certificates
    QString tlsCertificate;           // our own certificate and key (PEM); empty: a self-signed one
    bool tlsAllowSelfSigned = false;  // accept a PBX certificate that signs itself
    MediaEncryption mediaEncryption = MediaEncryption::None;

    // Who may call: addresses and CIDR ranges. Empty: the registrar's and proxy's addresses
    // when the line registers, otherwise loopback and the listen address's own network.
    QStringList allowFrom;
    int invitesPerMinute = 30;  // new calls accepted from one address; 0: no limit
    bool sendSilence = false;   // send silence in the call's codec, not only RTCP

    // Found while reading the file; shown to the operator, the line still works.
    QStringList warnings;

    // The address a far end should send to (SIP Contact, SDP connection line).
    QString mediaAddress() const;
    // "sip:host;transport=tls" for a registrar or proxy address given as "host" or "sip:host":
    // the line's transport is named unless the address names one itself.
    QString withTransport(const QString& sipUri) const;
};

// The lines of a lines.ini file in file order. Lines with unusable values are left out and
// each such value is described in problems; absent keys take their defaults.
std::vector<SipLineConfig> loadSipLineConfigs(const QString& iniPath, QStringList* problems);

// The warning for the operator when a lines file that holds a password can be read by other
// users of the machine (as ssh warns for private keys); empty when it is private or holds no
// password.
QString linesFilePermissionWarning(const QString& iniPath, const std::vector<SipLineConfig>& lines);

// "sip:..." or "user@host" are taken as addresses; a number becomes sip:number@domain
// (blanks, dashes, dots and brackets of a written number are dropped). Empty when the text
// cannot become a safe SIP address (characters that would break the request, no domain).
QString sipTargetForDial(const QString& dialled, const QString& domain);

}  // namespace kallomir
