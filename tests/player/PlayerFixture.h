#pragma once

#include "catalogue/CatalogueStore.h"
#include "catalogue/RecordingTrailer.h"
#include "controls/playback/SoundBuffer.h"
#include "controls/playback/ToneWave.h"
#include "core/FormLinks.h"
#include "core/RuntimeError.h"
#include "player/TranscriptionKeys.h"
#include "player/ui/FrmPlayer.h"
#include "player/ui/PlayerDialogs.h"
#include "support/FakeWindows.h"
#include "support/TempHome.h"
#include "support/TestPlaybackDevice.h"

#include <QDir>
#include <QListWidget>
#include <QTextDocument>
#include <QTimer>

#include <gtest/gtest.h>

#include <deque>
#include <memory>

namespace kallomir::test {

class ScriptedDialogs : public PlayerDialogs {
public:
    std::optional<QString> openFileName(QWidget*, const QString& title,
                                        const QString& filter) override {
        titles.push_back(title);
        filters.push_back(filter);
        return next();
    }
    std::optional<QString> saveFileName(QWidget*, const QString& title,
                                        const QString& filter) override {
        titles.push_back(title);
        filters.push_back(filter);
        return next();
    }
    std::optional<QFont> font(QWidget*, const QFont&) override { return fontAnswer; }
    std::optional<QColor> color(QWidget*, const QColor&) override { return colorAnswer; }
    bool print(QWidget*, QTextDocument& document) override {
        printed = document.toPlainText();
        return true;
    }
    bool transcriptionTools(QWidget*, MessageBoxService&, TranscriptionSettings& settings,
                            const std::vector<PedalInfo>& pedals,
                            const QString& pedalState) override {
        toolsShown = settings;
        pedalsListed = pedals;
        toolsState = pedalState;
        if (!toolsAnswer)
            return false;
        settings = *toolsAnswer;
        return true;
    }
    // The next scripted answer; an empty name (or none left) is a cancelled dialog.
    std::optional<QString> next() {
        if (names.empty() || names.front().isEmpty()) {
            if (!names.empty())
                names.pop_front();
            return std::nullopt;
        }
        const QString n = names.front();
        names.pop_front();
        return n;
    }
    std::deque<QString> names;
    std::optional<QFont> fontAnswer;
    std::optional<QColor> colorAnswer;
    QStringList titles, filters;
    QString printed;
    std::optional<TranscriptionSettings> toolsAnswer;  // nothing: the dialog is cancelled
    std::optional<TranscriptionSettings> toolsShown;
    std::vector<PedalInfo> pedalsListed;
    QString toolsState;
};

// A program folder with a catalogue, a recordings folder and a loaded player window whose
// sound output is driven by the test.
class PlayerFixture {
public:
    PlayerFixture() {
        home.initConfiguration();
        home.catalogue->create();
        folder = QDir::cleanPath(home.config.recordingsFolder());
        QDir().mkpath(folder);
        home.context->forms = &forms;
        home.context->dialogs = &dialogs;
    }

    // A recording with its trailer; seconds of tone at the format given.
    QString addRecording(const QString& name, int rate, int bits, int channels, double seconds,
                         const QDateTime& start, qint64 trailerSeconds) {
        const QByteArray trailer =
            RecordingTrailer::Make(QStringLiteral("CASO1"), start, start.addSecs(trailerSeconds))
                .toBytes();
        WriteBytes(QDir(folder).filePath(name),
                   ToneWave(rate, bits, channels, seconds, 440, trailer));
        return name;
    }

    FrmPlayer& load() {
        home.context->playbackDevices = [this] {
            auto d = std::make_unique<TestPlaybackDevice>(0, 0.05);
            device = d.get();
            return d;
        };
        player = std::make_unique<FrmPlayer>(*home.context);
        forms.playerWindow = player.get();
        player->Form_Load();
        return *player;
    }

    void open(const QString& name) {
        player->refreshFileList();
        const auto items = player->FOpener->findItems(name, Qt::MatchExactly);
        ASSERT_FALSE(items.isEmpty()) << name.toStdString();
        if (player->FOpener->currentItem() == items.front()) {
            player->FOpener_Click();  // the same file again
        } else {
            player->FOpener->setCurrentItem(items.front());
        }
    }

    // Runs the output clock and the window's 100 ms timer together.
    void run(double seconds) {
        for (double t = 0; t < seconds - 1e-9; t += 0.1) {
            // The fake clock runs faster than the loader thread could keep up under load;
            // loading itself is tested with the sound buffer.
            if (player->PlaybackBuffer())
                player->PlaybackBuffer()->image().waitUntilComplete();
            device->advance(0.1);
            if (player->Counter->isActive())
                player->Counter_Timer();
        }
    }

    std::optional<CatalogueRow> row(const QString& name) const {
        return home.catalogue->find(name);
    }

    TempHome home;
    FakeForms forms;
    ScriptedDialogs dialogs;
    QString folder;
    std::unique_ptr<FrmPlayer> player;
    TestPlaybackDevice* device = nullptr;
};

}  // namespace kallomir::test
