#pragma once

#include <QString>
#include <QStringList>

#include <cstdint>

namespace kallomir {

// The module-wide configuration every window reads, loaded once at start-up from
// RIZEDUZO.INI. Paths use '/' and folders end with exactly one '/'.
struct GeneralSound {
    QString appFolder;             // the home folder, with one trailing '/'
    QString iniFile;               // IniFile: appFolder + "RIZEDUZO.INI"
    std::int32_t commPort = 0;     // CommPort: kept, never used by the recorder
    QString commSettings;          // CommSettings
    QString dataPath;              // DataPath: root of all recordings, trailing '/'
    QString folderNumber;          // FolderNumber
    QString recFolder;             // RecFolder: NOME + "/" + FolderNumber
    QString sampleRate;            // SampleRate
    QString bitsPerSample;         // BitsPerSample
    QString channels;              // Channels
    std::int16_t recallTime = 15;  // RecallTime, seconds
    QString silenceStopEnabled = QStringLiteral("1");  // SilenceStopEnabled

    // DataPath + RecFolder: where new recordings go.
    QString recordingsFolder() const { return dataPath + recFolder; }
};

// The INI file of a program folder; a root folder gives "/RIZEDUZO.INI".
QString AppFolderOf(const QString& programFolder);

struct ConfigurationDefaults {
    QString dataPath;      // "DATI" when missing: $HOME/Recodati/
    QString fallbackPath;  // used when a save finds its folder gone: $HOME/RIZEDUZO/
    static ConfigurationDefaults ForHome(const QString& userHome);
};

// A folder name or number that goes into a recordings path: one plain folder name, never a
// path (no separator, not "." or "..", no control character, not empty).
bool IsPlainFolderName(const QString& name);

// Loads RIZEDUZO.INI into config, writes missing defaults back and creates the data
// folders one level deep. Returns the folders it could not create (the caller tells the
// operator); an unreadable or damaged file reads as missing keys, never as an error.
// A NOME or FOLDER that is not a plain folder name is not used: the default takes its
// place for this run and "KEY=value" is added to `refused` for the caller to report.
QStringList InitConfiguration(GeneralSound& config, const QString& programFolder,
                              const ConfigurationDefaults& defaults,
                              QStringList* refused = nullptr);

// The next folder after a full one: reads FOLDER and NOME back from the INI file, stores
// FOLDER + 1 and returns the new number as text (a non-numeric FOLDER counts as 0). A NOME
// in the file that is not a plain folder name gives the name in use instead. Throws
// RuntimeError when FOLDER cannot be stored: moving on without it would hand out the same
// folder number again at the next start.
QString NextFolderNumber(const GeneralSound& config, QString* folderName);

}  // namespace kallomir
