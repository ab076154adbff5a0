// The integrity log: each line chained to the one before, numbered, flushed under a lock;
// values survive any characters; a line cut off by a crash stays visible after the next
// append; lookups stop at the last end of service.
#include "core/RuntimeError.h"
#include "evidence/FilePolicy.h"
#include "evidence/IntegrityLog.h"
#include "evidence/Sha256.h"
#include "support/WavFixture.h"

#include <QFile>
#include <QTemporaryDir>

#include <sys/stat.h>

#include <thread>

#include <gtest/gtest.h>

using namespace kallomir;
using kallomir::test::ReadBytes;
using kallomir::test::WriteBytes;

namespace {

const QDateTime kAt(QDate(2024, 1, 31), QTime(14, 23, 5));

LogEvent Event(const QString& name, const QString& nome, const QString& extra = "x") {
    return LogEvent{name, kAt, {{"nome", nome}, {"valore", extra}}};
}

void ExpectChained(const std::vector<LogLine>& lines) {
    QString previous = kNoPreviousLine;
    qint64 number = 0;
    for (const LogLine& line : lines) {
        SCOPED_TRACE(line.raw.toStdString());
        EXPECT_TRUE(line.complete);
        EXPECT_TRUE(line.wellFormed);
        EXPECT_TRUE(line.hashMatches);
        EXPECT_EQ(line.previous, previous);
        EXPECT_EQ(line.sequence, ++number);
        previous = Sha256Hex(line.raw);
    }
}

TEST(IntegrityLog, EachLineCarriesTheHashOfTheOneBeforeAndOfItself) {
    QTemporaryDir dir;
    const IntegrityLog log(dir.path());
    const QByteArray first = log.append(Event(events::kRecordingSaved, "a.Ems"));
    log.append(Event(events::kTranscriptionSaved, "a.Ems"));
    log.append(Event(events::kMarksChanged, "a.Ems"));
    const QByteArray bytes = ReadBytes(log.path());
    EXPECT_TRUE(bytes.startsWith(first + '\n'));
    EXPECT_TRUE(bytes.startsWith("n=1 ora=2024-01-31T14:23:05"));
    EXPECT_EQ(bytes.count('\n'), 3);
    const LogContents contents = log.read();
    ASSERT_EQ(contents.lines.size(), 3u);
    ExpectChained(contents.lines);
    EXPECT_EQ(contents.lines[1].event, events::kTranscriptionSaved);
    EXPECT_EQ(contents.lines[2].at, kAt);
    // The hash covers the line up to itself: one byte changed anywhere shows.
    QByteArray changed = contents.lines[1].raw;
    changed.replace("valore=x", "valore=y");
    EXPECT_FALSE(ParseLogLine(changed, 2, true).hashMatches);
}

TEST(IntegrityLog, ValuesKeepEveryCharacterAndNeverBreakTheLine) {
    const QStringList values = {"con spazi", "100% vero", "a=b", "riga\nnuova\r\n",
                                "città è",   "tab\there", "",    "%41"};
    QTemporaryDir dir;
    const IntegrityLog log(dir.path());
    for (const QString& value : values) log.append(Event(events::kMarksChanged, value, value));
    const LogContents contents = log.read();
    ASSERT_EQ(contents.lines.size(), std::size_t(values.size()));
    ExpectChained(contents.lines);
    for (int i = 0; i < values.size(); ++i) {
        EXPECT_EQ(contents.lines[std::size_t(i)].field("nome"), values[i]);
        EXPECT_EQ(contents.lines[std::size_t(i)].field("valore"), values[i]);
    }
}

TEST(IntegrityLog, ALineCutOffByACrashStaysAndTheNextLineChainsToIt) {
    QTemporaryDir dir;
    const IntegrityLog log(dir.path());
    log.append(Event(events::kRecordingSaved, "a.Ems"));
    log.append(Event(events::kRecordingSaved, "b.Ems"));
    // The third line was half written when the power went.
    const QByteArray whole = ReadBytes(log.path());
    const QByteArray torn = "n=3 ora=2024-01-31T14:30:00+01:00 evento=registrazione-sal";
    ASSERT_TRUE(WriteBytes(log.path(), whole + torn));
    log.append(Event(events::kRecordingSaved, "c.Ems"));

    const LogContents contents = log.read();
    ASSERT_EQ(contents.lines.size(), 4u);
    EXPECT_EQ(contents.lines[2].raw, torn);
    EXPECT_TRUE(contents.lines[2].complete);  // ended by the append, not swallowed by it
    EXPECT_FALSE(contents.lines[2].wellFormed);
    const LogLine& next = contents.lines[3];
    EXPECT_TRUE(next.hashMatches);
    EXPECT_EQ(next.previous, Sha256Hex(torn));
    EXPECT_EQ(next.sequence, 3);  // numbered after the last whole line
    EXPECT_EQ(next.field("nome"), "c.Ems");
}

TEST(IntegrityLog, AppendsFromTwoThreadsAtOnceKeepOneChain) {
    QTemporaryDir dir;
    constexpr int kEach = 40;
    auto writer = [&](const QString& who) {
        const IntegrityLog log(dir.path());
        for (int i = 0; i < kEach; ++i)
            log.append(Event(events::kMarksChanged, who + QString::number(i)));
    };
    std::thread a(writer, "a"), b(writer, "b");
    a.join();
    b.join();
    const LogContents contents = IntegrityLog(dir.path()).read();
    ASSERT_EQ(contents.lines.size(), std::size_t(2 * kEach));
    ExpectChained(contents.lines);
}

TEST(IntegrityLog, IsCreatedForTheOwnerOnlyAndAFailedWriteKeepsItsNumber) {
    QTemporaryDir dir;
    ApplyFilePolicy(FilePolicy{});
    const IntegrityLog log(dir.path());
    log.append(Event(events::kMarksChanged, "a"));
    struct stat st {};
    ASSERT_EQ(::stat(QFile::encodeName(log.path()).constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);

    const IntegrityLog nowhere(dir.path() + "/missing");
    try {
        nowhere.append(Event(events::kMarksChanged, "a"));
        ADD_FAILURE() << "no error";
    } catch (const RuntimeError& e) {
        EXPECT_EQ(e.number(), 76);
    }
}

TEST(IntegrityLog, LastForFindsTheNewestLineOfANameBackToTheLastEndOfService) {
    QTemporaryDir dir;
    const IntegrityLog log(dir.path());
    log.append(Event(events::kTranscriptionSaved, "a.Ems", "1"));
    log.append(Event(events::kTranscriptionSaved, "a.Ems", "2"));
    log.append(Event(events::kTranscriptionSaved, "b.Ems", "3"));
    log.append(Event(events::kMarksChanged, "a.Ems", "4"));
    auto last = log.lastFor("a.Ems", {events::kTranscriptionSaved});
    ASSERT_TRUE(last);
    EXPECT_EQ(last->field("valore"), "2");
    EXPECT_FALSE(log.lastFor("A.Ems b", {events::kTranscriptionSaved}));
    log.append(LogEvent{events::kServiceArchived, kAt, {{"archivio", "/x/datirec.mdb"}}});
    EXPECT_FALSE(log.lastFor("a.Ems", {events::kTranscriptionSaved}));
    log.append(Event(events::kTranscriptionSaved, "a.Ems", "5"));
    last = log.lastFor("a.Ems", {events::kTranscriptionSaved, events::kMarksChanged});
    ASSERT_TRUE(last);
    EXPECT_EQ(last->field("valore"), "5");
}

}  // namespace
