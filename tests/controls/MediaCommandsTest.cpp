#include "SoundFixture.h"
#include "controls/MediaCommands.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace kallomir {
namespace {

using test::WriteWav;

class MediaCommandsTest : public ::testing::Test {
protected:
    QString file(const QString& name) const { return dir.path() + u'/' + name; }
    QTemporaryDir dir;
    MediaCommands media;
};

TEST_F(MediaCommandsTest, OpensAWaveAndReportsItsFormatAndMode) {
    const QString path = file("with blanks in name.wav");
    WriteWav(path, std::vector<std::int16_t>(8000, 100), 11025);
    ASSERT_EQ(media.send("open " + path + " type waveaudio alias capture"), 0);
    QString reply;
    EXPECT_EQ(media.send("status capture bitspersample ", &reply), 0);
    EXPECT_EQ(reply, "16");
    EXPECT_EQ(media.send("status capture samplespersec ", &reply), 0);
    EXPECT_EQ(reply, "11025");
    EXPECT_EQ(media.send("status capture channels ", &reply), 0);
    EXPECT_EQ(reply, "1");
    EXPECT_EQ(media.send("STATUS Capture MODE", &reply), 0);
    EXPECT_EQ(reply, "stopped");
    EXPECT_EQ(media.send("stop capture"), 0);
    EXPECT_EQ(media.send("close all"), 0);
    EXPECT_FALSE(media.isOpen("capture"));
}

TEST_F(MediaCommandsTest, NothingOpenGivesEmptyRepliesAndChangesNothing) {
    QString reply = "old";
    EXPECT_EQ(media.send("status capture mode", &reply), MediaError::kInvalidDeviceName);
    EXPECT_EQ(reply, "");
    EXPECT_EQ(media.send("stop capture"), MediaError::kInvalidDeviceName);
    EXPECT_EQ(media.send("close all"), 0);
    EXPECT_EQ(media.send("close capture"), MediaError::kInvalidDeviceName);
}

TEST_F(MediaCommandsTest, RecordingWithTrailerAndCutShortCaptureOpen) {
    // A recording: wave data followed by the 48-byte text trailer.
    const QString withTrailer = file("20240131_142305.Ems");
    WriteWav(withTrailer, std::vector<std::int16_t>(4000, -3), 8000);
    QFile f(withTrailer);
    ASSERT_TRUE(f.open(QIODevice::Append));
    f.write(QByteArray("REC00001").append("31/01/2024 14:23:0531/01/2024 14:24:10\r\n"));
    f.close();
    ASSERT_EQ(media.send("open " + withTrailer + " type waveaudio alias capture"), 0);
    QString reply;
    media.send("status capture samplespersec ", &reply);
    EXPECT_EQ(reply, "8000");
    media.send("close all");

    // A capture killed before its header caught up: data size 0 in the header.
    const QString cutShort = file("Record.wav");
    WriteWav(cutShort, std::vector<std::int16_t>(4000, 7), 44100);
    QFile g(cutShort);
    ASSERT_TRUE(g.open(QIODevice::ReadWrite));
    g.seek(40);
    g.write(QByteArray(4, '\0'));
    g.close();
    EXPECT_EQ(media.send("open " + cutShort + " type waveaudio alias capture"), 0);
}

TEST_F(MediaCommandsTest, ErrorCodesHaveTexts) {
    EXPECT_EQ(media.send("open " + file("missing.wav") + " type waveaudio alias capture"),
              MediaError::kFileNotFound);

    const QString text = file("notes.txt");
    QFile t(text);
    ASSERT_TRUE(t.open(QIODevice::WriteOnly));
    t.write("RIFF but not really a wave file at all");
    t.close();
    EXPECT_EQ(media.send("open " + text + " type waveaudio alias capture"),
              MediaError::kInvalidFile);

    const QString empty = file("empty.wav");
    QFile e(empty);
    ASSERT_TRUE(e.open(QIODevice::WriteOnly));
    e.close();
    EXPECT_EQ(media.send("open " + empty + " type waveaudio alias capture"),
              MediaError::kInvalidFile);

    const QString good = file("good.wav");
    WriteWav(good, std::vector<std::int16_t>(10, 0), 8000);
    EXPECT_EQ(media.send("open " + good + " type waveaudio alias capture"), 0);
    EXPECT_EQ(media.send("open " + good + " type waveaudio alias capture"),
              MediaError::kDuplicateAlias);
    EXPECT_EQ(media.send("status capture volume"), MediaError::kUnrecognizedKeyword);
    EXPECT_EQ(media.send("status capture"), MediaError::kMissingParameter);
    EXPECT_EQ(media.send("play capture"), MediaError::kUnrecognizedCommand);
    EXPECT_EQ(media.send(""), MediaError::kUnrecognizedCommand);
    EXPECT_EQ(media.send("open " + good + " type sequencer alias other"),
              MediaError::kUnsupportedFunction);
    // A failed open leaves the alias as it was.
    EXPECT_TRUE(media.isOpen("capture"));

    for (int code :
         {MediaError::kFileNotFound, MediaError::kInvalidFile, MediaError::kDuplicateAlias,
          MediaError::kInvalidDeviceName, MediaError::kUnrecognizedCommand, 9999}) {
        EXPECT_FALSE(MediaCommands::errorText(code).isEmpty()) << code;
    }
    EXPECT_TRUE(MediaCommands::errorText(0).isEmpty());
}

}  // namespace
}  // namespace kallomir
