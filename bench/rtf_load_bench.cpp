// A transcription with many formatting runs (20 000 runs in one paragraph, about 139 KB):
// read into a document of its own, then shown in the player's editor, laid out and painted.
// Goal: under 1 s from the stored text to the editor showing it.
//   QT_QPA_PLATFORM=offscreen kallomir_rtf_load_bench
#include "player/RtfReader.h"
#include "player/ui/PlayerDialogs.h"
#include "player/ui/TranscriptionEditor.h"
#include "support/ScriptedMessageBoxes.h"

#include <QAbstractTextDocumentLayout>
#include <QApplication>
#include <QElapsedTimer>
#include <QTextDocument>
#include <QTextEdit>

#include <cstdio>

using namespace kallomir;

namespace {

class NoDialogs : public PlayerDialogs {
public:
    std::optional<QString> openFileName(QWidget*, const QString&, const QString&) override {
        return std::nullopt;
    }
    std::optional<QString> saveFileName(QWidget*, const QString&, const QString&) override {
        return std::nullopt;
    }
    std::optional<QFont> font(QWidget*, const QFont&) override { return std::nullopt; }
    std::optional<QColor> color(QWidget*, const QColor&) override { return std::nullopt; }
    bool print(QWidget*, QTextDocument&) override { return false; }
    bool transcriptionTools(QWidget*, MessageBoxService&, TranscriptionSettings&,
                            const std::vector<PedalInfo>&, const QString&) override {
        return false;
    }
};

QByteArray ManyRuns(int runs) {
    QByteArray rtf =
        "{\\rtf1\\ansi\\deff0{\\fonttbl{\\f0 Arial;}{\\f1 Times New Roman;}}"
        "{\\colortbl;\\red200\\green0\\blue0;}\\f0\\fs20 ";
    // Two runs per piece: the formatted word and the plain text after it.
    static const char* const kPieces[] = {"{\\b parla}to ", "{\\i detta}o e ", "{\\cf1 quel}li, ",
                                          "{\\f1 poi}rta "};
    for (int i = 0; i < runs / 2; ++i) rtf += kPieces[i % 4];
    rtf += "\\par}";
    return rtf;
}

double Shown(TranscriptionEditor& editor, const QByteArray& rtf) {
    QElapsedTimer timer;
    timer.start();
    editor.setTextRtf(rtf);
    editor.rtfTesto()->document()->documentLayout()->documentSize();  // laid out
    editor.rtfTesto()->viewport()->repaint();
    return static_cast<double>(timer.nsecsElapsed()) / 1e6;
}

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    const QByteArray big = ManyRuns(20000);

    QElapsedTimer timer;
    timer.start();
    QTextDocument detached;
    LoadRtfOrPlainText(detached, big);
    const double readMs = static_cast<double>(timer.nsecsElapsed()) / 1e6;

    test::ScriptedMessageBoxes boxes;
    NoDialogs dialogs;
    TranscriptionEditor editor(boxes, dialogs);
    editor.resize(800, 400);
    editor.show();
    app.processEvents();
    const double shownMs = Shown(editor, big);

    std::printf("transcription: %d runs, %.0f KB\n", 20000, static_cast<double>(big.size()) / 1024);
    std::printf("read into a document of its own: %.0f ms\n", readMs);
    std::printf(
        "shown in the editor (read, put in place, laid out, painted): %.0f ms (goal < 1000)\n",
        shownMs);
    return 0;
}
