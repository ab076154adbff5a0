#include "SoundFixture.h"
#include "controls/LineScript.h"
#include "controls/TelephonyControl.h"
#include "core/RuntimeError.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace kallomir {
namespace {

TEST(LineScriptTest, ReadsDevicesCallsAndDialAnswer) {
    QTemporaryDir dir;
    test::WriteWav(dir.path() + "/caller voice.wav", std::vector<std::int16_t>(800, 5), 8000);
    const LineScript script = ParseLineScript(
        "# demo\n"
        "device name=\"Office line\" version=2.1 caps=0x100C\n"
        "\n"
        "incoming at=5s ring=2.5s caller=0612345678 audio=\"caller voice.wav\" hangup=20s "
        "giveup=8\n"
        "incoming at=90000 hangup=never   # a call nobody hangs up\n"
        "dial answer=4s hangup=15s\n",
        dir.path());
    ASSERT_EQ(script.devices.size(), 1);
    EXPECT_EQ(script.devices[0].name, "Office line");
    EXPECT_EQ(script.devices[0].apiVersion, 0x00020001);
    EXPECT_EQ(script.devices[0].capabilities, 0x100C);
    ASSERT_EQ(script.incoming.size(), 2);
    EXPECT_EQ(script.incoming[0].atMs, 5000);
    EXPECT_EQ(script.incoming[0].ringPeriodMs, 2500);
    EXPECT_EQ(script.incoming[0].callerId, "0612345678");
    EXPECT_EQ(script.incoming[0].audioPath, dir.path() + "/caller voice.wav");
    EXPECT_EQ(script.incoming[0].hangUpAfterMs, 20000);
    EXPECT_EQ(script.incoming[0].giveUpAfterRings, 8);
    EXPECT_EQ(script.incoming[1].atMs, 90000);
    EXPECT_EQ(script.incoming[1].hangUpAfterMs, -1);
    ASSERT_TRUE(script.dial.has_value());
    EXPECT_EQ(script.dial->answerAfterMs, 4000);
    EXPECT_EQ(script.dial->hangUpAfterMs, 15000);

    // The line it makes plays the scenario.
    auto line = script.makeLine();
    line->open(0);
    line->advance(5000);
    EXPECT_EQ(line->callState(), SimulatedLine::CallState::Offering);
}

TEST(LineScriptTest, DemoScenarioReads) {
    QTemporaryDir dir;
    test::WriteWav(dir.path() + "/caller.wav", std::vector<std::int16_t>(8000, 5), 8000);
    QFile demo(QStringLiteral(KALLOMIR_TEST_DATA_DIR "/../../data/demo/demo-call.line"));
    if (!demo.open(QIODevice::ReadOnly))
        GTEST_SKIP() << "no demo scenario in this checkout";
    const LineScript script = ParseLineScript(QString::fromUtf8(demo.readAll()), dir.path());
    EXPECT_FALSE(script.incoming.isEmpty());
}

TEST(LineScriptTest, FaultsNameTheirLine) {
    const char* bad[] = {
        "incoming at=soon",            // not a duration
        "ring at=5s",                  // unknown command
        "incoming colour=red",         // unknown key
        "incoming audio=missing.wav",  // no such file
        "device version=x",            // not a number
        "incoming at",                 // key without value
        "incoming device=1",           // only one device
    };
    for (const char* text : bad) {
        try {
            ParseLineScript(QStringLiteral("# ok\n") + text, QDir::tempPath());
            ADD_FAILURE() << text;
        } catch (const RuntimeError& e) {
            if (QString(text) != "incoming device=1") {
                EXPECT_TRUE(e.description().contains("line 2")) << e.description().toStdString();
            }
        }
    }
    EXPECT_THROW(LoadLineScript("/nonexistent/script.txt"), RuntimeError);
}

}  // namespace
}  // namespace kallomir
