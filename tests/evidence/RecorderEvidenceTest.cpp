// The recording cycle keeps its evidence: each saved recording is logged once with the
// fingerprint of what is on disk, and its capture is kept until that line is written.
#include "evidence/IntegrityCheck.h"
#include "evidence/IntegrityLog.h"
#include "evidence/Sha256.h"
#include "recorder/SessionFixture.h"
#include "support/WavFixture.h"

using namespace kallomir;
using namespace kallomir::test;

namespace {

class RecorderEvidence : public SessionTest {
protected:
    void SetUp() override {
        SessionTest::SetUp();
        audio.addInput({"card", ReadMonoSamples(SpeechFile(), 8000)});
    }
    // A recording of `ms` from the sound card's line input.
    void record(int ms) {
        session->selectSource(RecordSource::LineIn);
        session->BtiNIReg_Click();
        runCard(ms);
        session->BtFineReg_Click();
        waitSaves();
    }
    std::vector<LogLine> log() const { return IntegrityLog(home.home()).read().lines; }
    CheckReport check() const {
        CheckOptions options;
        options.programFolder = home.home();
        options.recordingRoots = RecordingRoots(home.home(), home.userHome());
        return RunIntegrityCheck(options);
    }
};

TEST_F(RecorderEvidence, EachSavedRecordingIsLoggedAndCataloguedWithTheFingerprintOfItsFile) {
    load();
    record(1500);
    record(2500);
    const QStringList files = recordings();
    ASSERT_EQ(files.size(), 2);
    const auto lines = log();
    ASSERT_EQ(lines.size(), 2u);
    for (int i = 0; i < 2; ++i) {
        const QString path = home.config.recordingsFolder() + "/" + files[i];
        const QByteArray bytes = ReadBytes(path);
        const LogLine& entry = lines[std::size_t(i)];
        EXPECT_EQ(entry.event, events::kRecordingSaved);
        EXPECT_EQ(entry.field("nome"), files[i]);
        EXPECT_EQ(entry.field("file"), path);
        EXPECT_EQ(entry.field("sha256"), Sha256Hex(bytes));
        EXPECT_EQ(entry.field("sha256-audio"), Sha256Hex(bytes.left(bytes.size() - 48)));
        EXPECT_EQ(entry.field("coda").toLatin1(), bytes.right(48));
        EXPECT_EQ(entry.field("byte").toLongLong(), bytes.size());
        EXPECT_EQ(catalogue().fingerprint(files[i]),
                  (CatalogueFingerprint{Sha256Hex(bytes), bytes.size()}));
    }
    EXPECT_TRUE(check().clean()) << check().lines().join('\n').toStdString();
    EXPECT_TRUE(home.boxes.empty());
}

TEST_F(RecorderEvidence, ALogThatCannotBeWrittenKeepsTheCaptureUntilItsLineIsWritten) {
    load();
    // Something stands where the log should be written.
    QDir().mkdir(IntegrityLog(home.home()).path());
    record(1500);
    ASSERT_EQ(recordings().size(), 1);
    EXPECT_EQ(rows(), 1) << "the catalogue does not wait for the log";
    EXPECT_TRUE(CaptureMarker(home.path("Record.wav")).isSet());
    EXPECT_TRUE(st().notice.contains("non ancora nel registro di integrità"));
    ASSERT_EQ(home.boxes.shown().size(), 1);
    EXPECT_EQ(home.boxes.shown()[0].title, "Registro di integrità");
    for (int i = 0; i < 12; ++i) tick();  // a retry that fails again says nothing new
    waitSaves();
    EXPECT_EQ(home.boxes.shown().size(), 1);

    QDir().rmdir(IntegrityLog(home.home()).path());
    for (int i = 0; i < 12; ++i) tick();
    waitSaves();
    EXPECT_FALSE(CaptureMarker(home.path("Record.wav")).isSet());
    EXPECT_TRUE(st().notice.isEmpty());
    EXPECT_EQ(recordings().size(), 1) << "the retry saved nothing twice";
    EXPECT_EQ(rows(), 1);
    const auto lines = log();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].event, events::kCaptureRecovered);
    EXPECT_TRUE(check().clean()) << check().lines().join('\n').toStdString();
}

}  // namespace
