#include "settings/CapabilityReports.h"

#include <gtest/gtest.h>

using namespace kallomir;
using namespace Qt::StringLiterals;

// The expected texts are written out whole: tabs, blanks and CRLF all count.

TEST(CapabilityReports, LineWithAutomatedVoiceAndCallerIdOnly) {
    int reads = 0;
    const QString text = LineCapabilitiesText([&reads] {
        ++reads;
        return qint32{0x8 | 0x1000 | 0x40};  // 0x40 names no row
    });
    EXPECT_EQ(text,
              u"Media Mode Capabilities:\t          Supported\r\n"
              u"\tAutomated Voice \t\tYes\r\n"
              u"\tInteractive Voice \t\tNo\r\n"
              u"\tData Modem \t\tNo\r\n"
              u"\tG3 Fax \t\t\tNo\r\n"
              u"\tG4 Fax \t\t\tNo\r\n"
              u"\r\n"
              u"General Capabilities:\t          Supported\r\n"
              u"\tCaller ID \t\t\tYes\r\n"
              u"\tMonitor DTMF Digits \tNo\r\n"
              u"\tGenerate DTMF Digits \tNo\r\n"_s);
    EXPECT_EQ(reads, 8) << "the mask is read anew for every row";
    EXPECT_EQ(LineCapabilitiesTitle(u"SIP Line 1"_s), u"SIP Line 1 Capabilities"_s);
    const QString other =
        LineCapabilitiesText([] { return qint32{0x4 | 0x10 | 0x20 | 0x80 | 0x2000 | 0x4000}; });
    EXPECT_EQ(other.count(u"Yes"_s), 6);
    EXPECT_TRUE(other.contains(u"\tAutomated Voice \t\tNo\r\n\tInteractive Voice \t\tYes"_s));
}

TEST(CapabilityReports, TheRegistrationOfALineInTheOperatorsWords) {
    using S = LineRegistration::State;
    EXPECT_EQ(LineRegistrationText({S::NotUsed, 0, {}}), QString());
    EXPECT_EQ(LineRegistrationText({S::Registering, 0, {}}), u"Registrazione in corso"_s);
    EXPECT_EQ(LineRegistrationText({S::Registered, 0, {}}), u"Linea registrata"_s);
    EXPECT_EQ(LineRegistrationText({S::Refused, 403, u"Forbidden"_s}),
              u"Registrazione rifiutata: 403 Forbidden"_s);
    EXPECT_EQ(LineRegistrationText({S::Unreachable, 0, u"nessuna risposta"_s}),
              u"Centralino non raggiungibile: nessuna risposta"_s);
    EXPECT_EQ(LineRegistrationText({S::Unreachable, 0, {}}), u"Centralino non raggiungibile"_s);
}

TEST(CapabilityReports, SoundCardThatPlaysEveryFormat) {
    EXPECT_EQ(WaveCapabilitiesText(WaveDirection::Output, u"Sound Card"_s, 0xFF),
              u"Sound Card\r\n"
              u"Natively supported play formats:\r\n"
              u"\r\n"
              u"\t8kHz, 8 Bit \t\tYes\r\n"
              u"\t8kHz, 16 Bit \t\tYes\r\n"
              u"\t11.25kHz, 8 Bit \t\tYes\r\n"
              u"\t11.25kHz, 16 Bit \t\tYes\r\n"
              u"\t22.05kHz, 8 Bit \t\tYes\r\n"
              u"\t22.05kHz, 16 Bit \t\tYes\r\n"
              u"\t44.1kHz, 8 Bit \t\tYes\r\n"
              u"\t44.1kHz, 16 Bit \t\tYes\r\n"_s);
    EXPECT_EQ(WaveCapabilitiesTitle(WaveDirection::Output), u"Wave Output Capabilities"_s);
    EXPECT_EQ(NoWaveDeviceText(WaveDirection::Output), u"Periferica output non selezionata"_s);
}

TEST(CapabilityReports, RecordFormatsOfALineDevice) {
    const QString text = WaveCapabilitiesText(WaveDirection::Input, u"Modem"_s, 2 | 128);
    EXPECT_TRUE(
        text.startsWith(u"Modem\r\nNatively supported record formats:\r\n\r\n"
                        u"\t8kHz, 8 Bit \t\tNo\r\n\t8kHz, 16 Bit \t\tYes\r\n"_s));
    EXPECT_TRUE(text.endsWith(u"\t44.1kHz, 8 Bit \t\tNo\r\n\t44.1kHz, 16 Bit \t\tYes\r\n"_s));
    EXPECT_EQ(WaveCapabilitiesTitle(WaveDirection::Input), u"Wave Input Capabilities"_s);
    EXPECT_EQ(NoWaveDeviceText(WaveDirection::Input), u"Periferica input non selezionata"_s);
}
