// Two operators saving one transcription: the second chooses, nothing is lost unasked.
#include "CatalogueBackends.h"
#include "catalogue/TranscriptionSave.h"

using namespace kallomir;
using namespace kallomir::test;

namespace {

using TranscriptionSaveTest = CatalogueBackend;
using Kind = TranscriptionSaveOutcome::Kind;

const QString kName = QStringLiteral("20240131_142305.Ems");
const PlayerMarks kTheirs{true, true, false, QStringLiteral("{\\rtf1 testo di bruno}")};
const PlayerMarks kMine{true, false, true, QStringLiteral("{\\rtf1 testo di anna}")};

struct ConflictCase {
    const char* name;
    MsgAnswer answer;
    Kind kind;
    const char* stored;  // the text the row holds afterwards
    bool mineStored;
};

const ConflictCase kCases[] = {
    {"Si overwrites", MsgAnswer::Yes, Kind::Saved, "{\\rtf1 testo di anna}", true},
    {"No keeps the other's", MsgAnswer::No, Kind::KeptOther, "{\\rtf1 testo di bruno}", false},
    {"Annulla keeps editing", MsgAnswer::Cancel, Kind::StillEditing, "{\\rtf1 testo di bruno}",
     false},
};

TEST_P(TranscriptionSaveTest, TheSecondOperatorChooses) {
    for (const ConflictCase& c : kCases) {
        SCOPED_TRACE(c.name);
        const QString name = QString::fromLatin1(c.name).left(2) + kName;
        ASSERT_TRUE(catalogue().playerInsert(name, "E", "anna"));
        const std::int64_t opened = catalogue().find(name)->versione;
        ASSERT_EQ(catalogue().playerSave(name, kTheirs, "E", "bruno").status,
                  PlayerSaveResult::Status::Saved);

        home.boxes.clear();
        home.boxes.answerNext(c.answer);
        const TranscriptionSaveOutcome outcome =
            SaveTranscription(catalogue(), home.boxes, name, kMine, "E", "anna", opened);
        EXPECT_EQ(outcome.kind, c.kind);
        ASSERT_EQ(home.boxes.shown().size(), 1);
        EXPECT_EQ(home.boxes.last().buttons, MsgButtons::YesNoCancel);
        EXPECT_TRUE(home.boxes.last().text.contains(name));
        EXPECT_TRUE(home.boxes.last().text.contains(QStringLiteral("«bruno»")));
        const auto row = catalogue().find(name);
        EXPECT_EQ(row->traduzione, c.stored);
        EXPECT_EQ(row->user, c.mineStored ? "anna" : "bruno");
        EXPECT_EQ(row->tradotto, c.mineStored);
        ASSERT_TRUE(outcome.row.has_value());
        EXPECT_EQ(outcome.row->versione, row->versione) << "what the player now holds";
    }
}

TEST_P(TranscriptionSaveTest, NobodyElseSavedNoQuestion) {
    ASSERT_TRUE(catalogue().playerInsert(kName, "E", "anna"));
    const std::int64_t opened = catalogue().find(kName)->versione;
    auto outcome = SaveTranscription(catalogue(), home.boxes, kName, kMine, "E", "anna", opened);
    EXPECT_EQ(outcome.kind, Kind::Saved);
    // Saving again over the version the first save gave.
    outcome = SaveTranscription(catalogue(), home.boxes, kName, kTheirs, "E", "anna",
                                outcome.row->versione);
    EXPECT_EQ(outcome.kind, Kind::Saved);
    EXPECT_TRUE(home.boxes.empty());
    EXPECT_EQ(catalogue().find(kName)->traduzione, kTheirs.traduzione);
    EXPECT_EQ(SaveTranscription(catalogue(), home.boxes, "nessuno.Ems", kMine, "E", "a", 1).kind,
              Kind::NoRow);
}

// A third save lands while the operator reads the question: "Sì" does not overwrite it
// unseen; the question comes again with the newest text.
TEST_P(TranscriptionSaveTest, ASaveWhileTheQuestionIsOpenIsAskedAboutAgain) {
    ASSERT_TRUE(catalogue().playerInsert(kName, "E", "anna"));
    const std::int64_t opened = catalogue().find(kName)->versione;
    catalogue().playerSave(kName, kTheirs, "E", "bruno");
    bool third = true;
    home.boxes.onShow([&](const auto&) {
        if (std::exchange(third, false))
            catalogue().playerSave(kName, PlayerMarks{false, false, false, "{\\rtf1 carla}"}, "E",
                                   "carla");
    });
    home.boxes.answerNext(MsgAnswer::Yes);
    home.boxes.answerNext(MsgAnswer::No);
    const auto outcome =
        SaveTranscription(catalogue(), home.boxes, kName, kMine, "E", "anna", opened);
    EXPECT_EQ(home.boxes.shown().size(), 2);
    EXPECT_TRUE(home.boxes.last().text.contains(QStringLiteral("«carla»")));
    EXPECT_EQ(outcome.kind, Kind::KeptOther);
    EXPECT_EQ(catalogue().find(kName)->traduzione, "{\\rtf1 carla}");
}

// The row could not be read when the recording was opened (the server was away): a row
// that holds nothing is written, one with a text is not overwritten without the question.
TEST_P(TranscriptionSaveTest, ARowNeverShownIsOverwrittenOnlyWhenAsked) {
    ASSERT_TRUE(catalogue().playerInsert(kName, "E", "anna"));
    EXPECT_EQ(
        SaveTranscription(catalogue(), home.boxes, kName, kMine, "E", "anna", kUnseenVersion).kind,
        Kind::Saved);
    EXPECT_TRUE(home.boxes.empty());
    EXPECT_EQ(catalogue().find(kName)->traduzione, kMine.traduzione);

    home.boxes.answerNext(MsgAnswer::Cancel);
    EXPECT_EQ(
        SaveTranscription(catalogue(), home.boxes, kName, kTheirs, "E", "bruno", kUnseenVersion)
            .kind,
        Kind::StillEditing);
    ASSERT_EQ(home.boxes.shown().size(), 1);
    EXPECT_TRUE(home.boxes.last().text.contains("non era raggiungibile"));
    EXPECT_EQ(catalogue().find(kName)->traduzione, kMine.traduzione);
}

INSTANTIATE_TEST_SUITE_P(BothBackEnds, TranscriptionSaveTest,
                         ::testing::Values(Backend::File, Backend::Server), BackendName);

}  // namespace
