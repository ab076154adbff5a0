#pragma once

#include "core/GeneralSound.h"
#include "core/SettingsStore.h"

#include <QDir>
#include <QString>

#include <functional>
#include <memory>

namespace kallomir {

class Clock;
class MessageBoxService;
class ProcessControl;
class Forms;
class LineBackend;
class AudioSystem;
class MediaCommands;
class MixerBackend;
class PlayerDialogs;
class PlaybackDevice;
class CatalogueStore;

// The services and shared state every window and rule of the program reaches; wired once
// in the application's start-up (real) or by a test (test doubles).
struct AppContext {
    AppContext(GeneralSound& cfg, SettingsStore& store, MessageBoxService& msg, Clock& clk,
               ProcessControl& proc, QString home, QString application)
        : config(cfg),
          settings(store, std::move(application)),
          boxes(msg),
          clock(clk),
          process(proc),
          homeFolder(std::move(home)),
          userHome(QDir::homePath()) {}

    GeneralSound& config;
    UserSettings settings;
    MessageBoxService& boxes;
    Clock& clock;
    ProcessControl& process;
    QString homeFolder;  // the program's folder, without trailing '/'
    QString userHome;    // stands for $HOME: default data folders live under it

    Forms* forms = nullptr;
    LineBackend* line = nullptr;       // telephone line devices
    AudioSystem* audio = nullptr;      // sound-card inputs and outputs
    MediaCommands* media = nullptr;    // the media alias "capture", shared by recorder and player
    MixerBackend* mixer = nullptr;     // the card's mixer
    PlayerDialogs* dialogs = nullptr;  // open/save/font/colour/print dialogs of the player
    CatalogueStore* catalogue = nullptr;  // the recordings catalogue: embedded file or server
    // Opens the sound output the player plays through; throws RuntimeError when there is none.
    std::function<std::unique_ptr<PlaybackDevice>()> playbackDevices;

    QString homeFile(const QString& name) const { return homeFolder + u'/' + name; }
};

}  // namespace kallomir
