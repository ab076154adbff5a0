#include "app/AppWiring.h"

#include "app/BackgroundAudioSystem.h"
#include "app/CommandLine.h"
#include "catalogue/OpenCatalogue.h"
#include "catalogue/ServerCatalogue.h"
#include "controls/LineScript.h"
#include "controls/MediaCommands.h"
#include "controls/PortAudioLibrary.h"
#include "controls/PortAudioSystem.h"
#include "controls/SimulatedLine.h"
#include "controls/playback/EvdevPedalDevices.h"
#include "controls/playback/PortAudioPlaybackDevice.h"
#include "controls/sip/SipLine.h"
#include "controls/sip/SipLineConfig.h"
#include "core/AppContext.h"
#include "core/RuntimeError.h"
#include "player/ui/FrmPlayer.h"
#include "player/ui/FrmReports.h"
#include "player/ui/PlayerDialogs.h"
#include "recorder/ui/FrmRecorder.h"
#include "settings/AlsaMixerBackend.h"
#include "settings/ui/CfrmSettingsWp.h"
#include "settings/ui/FrmMixer.h"

#include <QFileInfo>

namespace kallomir {

struct AppWiring::Devices {
    std::unique_ptr<LineBackend> line;
    // PortAudio starts once, on the sound system's start-up thread; the sound cards and the
    // player's output both use that one start.
    std::unique_ptr<PortAudioLibrary> portAudio;
    std::unique_ptr<BackgroundAudioSystem> audio;
    QtPlayerDialogs playerDialogs;
    EvdevPedalDevices pedals;  // the transcription foot pedal
    std::unique_ptr<AlsaMixerBackend> mixer;
    MediaCommands media;
    std::unique_ptr<CatalogueStore> catalogue;
};

namespace {

// The telephone line: a scenario file asks for the simulated line; configured SIP lines
// come next; without either, a simulated line on which nothing happens.
std::unique_ptr<LineBackend> MakeLine(const AppContext& ctx, const CommandLine& options,
                                      QString& error, QStringList& warnings) {
    if (!options.lineScript.isEmpty()) {
        try {
            std::unique_ptr<SimulatedLine> line = LoadLineScript(options.lineScript).makeLine();
            line->startRealTime();
            return line;
        } catch (const RuntimeError& e) {
            error = e.description();
            return nullptr;
        }
    }
    const QString sipConfig = SipLine::configPath(ctx.homeFolder);
    if (QFileInfo::exists(sipConfig)) {
        QStringList problems;
        std::vector<SipLineConfig> lines = loadSipLineConfigs(sipConfig, &problems);
        for (const QString& problem : problems) {
            qWarning("lines: %s", qPrintable(problem));
            warnings << QStringLiteral("lines.ini: ") + problem;
        }
        if (!lines.empty()) {
            try {
                auto line = std::make_unique<SipLine>(std::move(lines));
                warnings << line->warnings();
                return line;
            } catch (const RuntimeError& e) {
                error = e.description();
                return nullptr;
            }
        }
    }
    auto line = std::make_unique<SimulatedLine>();
    line->startRealTime();
    return line;
}

}  // namespace

AppWiring::AppWiring(AppContext& ctx, const CommandLine& options)
    : devices_(std::make_unique<Devices>()) {
    devices_->line = MakeLine(ctx, options, error_, warnings_);
    Devices* devices = devices_.get();
    devices_->audio = std::make_unique<BackgroundAudioSystem>([devices] {
        devices->portAudio = std::make_unique<PortAudioLibrary>();
        return std::unique_ptr<AudioSystem>(std::make_unique<PortAudioSystem>(*devices->portAudio));
    });
    devices_->mixer = std::make_unique<AlsaMixerBackend>();
    // The catalogue: the embedded file, or the server that RIZEDUZO.INI [CATALOGO] names.
    try {
        devices_->catalogue = OpenConfiguredCatalogue(ctx.homeFolder, &ctx.settings);
        if (auto* server = qobject_cast<ServerCatalogue*>(devices_->catalogue.get()))
            server->startRetrying();
    } catch (const RuntimeError& e) {
        error_ += (error_.isEmpty() ? QString() : QStringLiteral("\n")) + e.description();
    }
    ctx.catalogue = devices_->catalogue.get();
    ctx.line = devices_->line.get();
    ctx.audio = devices_->audio.get();
    ctx.mixer = devices_->mixer.get();
    ctx.media = &devices_->media;
    ctx.dialogs = &devices_->playerDialogs;
    ctx.playbackDevices = [devices]() -> std::unique_ptr<PlaybackDevice> {
        devices->audio->ready();  // PortAudio has started (or failed) on its own thread
        return std::make_unique<PortAudioPlaybackDevice>(*devices->portAudio);
    };
}

AppWiring::~AppWiring() {
    // The sound system goes before the library it runs on.
    if (devices_->audio)
        devices_->audio.reset();
}

WindowRegistry::Factories AppWiring::windowFactories() const {
    WindowRegistry::Factories f;
    f.recorder = {
        [](AppContext& ctx, QWidget* parent) -> QWidget* { return new FrmRecorder(ctx, parent); },
        [](QWidget* w) { static_cast<FrmRecorder*>(w)->Form_Load(); }};
    Devices* devices = devices_.get();
    f.player = {
        [](AppContext& ctx, QWidget* parent) -> QWidget* { return new FrmPlayer(ctx, parent); },
        [devices](QWidget* w) {
            auto* player = static_cast<FrmPlayer*>(w);
            player->Form_Load();
            player->setPedalDevices(&devices->pedals);
        }};
    f.reports = {
        [](AppContext& ctx, QWidget* parent) -> QWidget* { return new frmReports(ctx, parent); },
        [](QWidget* w) { static_cast<frmReports*>(w)->Form_Load(); }};
    f.mixer = {
        [](AppContext& ctx, QWidget* parent) -> QWidget* { return new FrmMixer(ctx, parent); },
        [](QWidget* w) { static_cast<FrmMixer*>(w)->Form_Load(); }};
    f.openSettings = [](AppContext& ctx, QWidget* owner) { OpenSettingsDialog(ctx, owner); };
    return f;
}

}  // namespace kallomir
