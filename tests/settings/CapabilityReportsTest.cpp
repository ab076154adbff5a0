#include "settings/CapabilityReports.h"

#include <gtest/gtest.h>

using namespace kallomir;

// Expected texts are written out in full, byte for byte: tabs, blanks and CRLF all count.

TEST(CapabilityReports, LineWithAutomatedVoiceAndCallerIdOnly) {
    int reads = 0;
    const QString text = LineCapabilitiesText([&reads] {
        ++reads;
        return qint32{0x8 | 0x1000};
    });
    const QString expected = QStringLiteral(
        "Media Mode Capabilities:\t          Supported\r\n"
        "\tAutomated Voice \t\tYes\r\n"
        "\tInteractive Voice \t\tNo\r\n"
        "\tData Modem \t\tNo\r\n"
        "\tG3 Fax \t\t\tNo\r\n"
        "\tG4 Fax \t\t\tNo\r\n"
        "\r\n"
        "General Capabilities:\t          Supported\r\n"
        "\tCaller ID \t\t\tYes\r\n"
        "\tMonitor DTMF Digits \tNo\r\n"
        "\tGenerate DTMF Digits \tNo\r\n");
    EXPECT_EQ(text, expected);
    EXPECT_EQ(reads, 8) << "the mask is read anew for every row";
    EXPECT_EQ(LineCapabilitiesTitle(QStringLiteral("SIP Line 1")),
              QStringLiteral("SIP Line 1 Capabilities"));
}

TEST(CapabilityReports, EveryBitOfTheLineMaskHasItsOwnRow) {
    const QString all = LineCapabilitiesText(
        [] { return qint32{0x8 | 0x4 | 0x10 | 0x20 | 0x80 | 0x1000 | 0x2000 | 0x4000}; });
    EXPECT_EQ(all.count(QStringLiteral("Yes")), 8);
    EXPECT_EQ(all.count(QStringLiteral("No\r\n")), 0);
    // Bits that name nothing (1, 2, 0x40) never turn a row on.
    const QString none = LineCapabilitiesText([] { return qint32{0x1 | 0x2 | 0x40 | 0x100}; });
    EXPECT_EQ(none.count(QStringLiteral("Yes")), 0);
    // Each row answers for its own bit.
    EXPECT_TRUE(
        LineCapabilitiesText([] {
            return qint32{0x2000};
        }).contains(QStringLiteral("\tMonitor DTMF Digits \tYes\r\n\tGenerate DTMF Digits \tNo")));
}

TEST(CapabilityReports, SoundCardThatPlaysEveryFormat) {
    const QString expected = QStringLiteral(
        "Sound Card\r\n"
        "Natively supported play formats:\r\n"
        "\r\n"
        "\t8kHz, 8 Bit \t\tYes\r\n"
        "\t8kHz, 16 Bit \t\tYes\r\n"
        "\t11.25kHz, 8 Bit \t\tYes\r\n"
        "\t11.25kHz, 16 Bit \t\tYes\r\n"
        "\t22.05kHz, 8 Bit \t\tYes\r\n"
        "\t22.05kHz, 16 Bit \t\tYes\r\n"
        "\t44.1kHz, 8 Bit \t\tYes\r\n"
        "\t44.1kHz, 16 Bit \t\tYes\r\n");
    EXPECT_EQ(WaveCapabilitiesText(WaveDirection::Output, QStringLiteral("Sound Card"), 0xFF),
              expected);
    EXPECT_EQ(WaveCapabilitiesTitle(WaveDirection::Output),
              QStringLiteral("Wave Output Capabilities"));
}

TEST(CapabilityReports, RecordReportOfALineDevice) {
    const QString text =
        WaveCapabilitiesText(WaveDirection::Input, QStringLiteral("Modem"), 2 | 128);
    EXPECT_TRUE(
        text.startsWith(QStringLiteral("Modem\r\nNatively supported record formats:\r\n\r\n")));
    EXPECT_TRUE(
        text.contains(QStringLiteral("\t8kHz, 8 Bit \t\tNo\r\n\t8kHz, 16 Bit \t\tYes\r\n")));
    EXPECT_TRUE(
        text.endsWith(QStringLiteral("\t44.1kHz, 8 Bit \t\tNo\r\n\t44.1kHz, 16 Bit \t\tYes\r\n")));
    EXPECT_EQ(WaveCapabilitiesTitle(WaveDirection::Input),
              QStringLiteral("Wave Input Capabilities"));
    EXPECT_EQ(NoWaveDeviceText(WaveDirection::Input),
              QStringLiteral("Periferica input non selezionata"));
    EXPECT_EQ(NoWaveDeviceText(WaveDirection::Output),
              QStringLiteral("Periferica output non selezionata"));
}
