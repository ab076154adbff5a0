#pragma once

#include <QMap>
#include <QString>

namespace kallomir {

// Error codes of the media command interpreter (0 = success).
namespace MediaError {
inline constexpr int kNone = 0;
inline constexpr int kInvalidDeviceName = 263;  // alias not open
inline constexpr int kUnrecognizedKeyword = 259;
inline constexpr int kUnrecognizedCommand = 261;
inline constexpr int kMissingParameter = 273;
inline constexpr int kUnsupportedFunction = 274;
inline constexpr int kFileNotFound = 275;
inline constexpr int kDuplicateAlias = 289;
inline constexpr int kInvalidFile = 296;  // not a wave file / broken header
inline constexpr int kFileRead = 348;
}  // namespace MediaError

// Interpreter of the media command strings the program sends on the alias "capture":
//   open PATH type waveaudio alias NAME     (reads the file's wave header only)
//   status NAME mode | bitspersample | samplespersec | channels
//   stop NAME
//   close NAME | close all
// Keywords are matched without regard to case; PATH may hold blanks. One instance per
// process, shared by the recorder and the player; used from the GUI thread.
class MediaCommands {
public:
    // Returns 0 or an error code; `reply` (when given) receives the reply text, empty on error.
    int send(const QString& command, QString* reply = nullptr);
    // The text of an error code; empty for 0.
    static QString errorText(int code);

    bool isOpen(const QString& alias) const;

private:
    struct Device {
        QString path;
        int bitsPerSample = 0;
        int samplesPerSecond = 0;
        int channels = 0;
    };
    int open(const QString& arguments);
    int status(const QString& alias, const QString& item, QString* reply) const;

    QMap<QString, Device> devices_;  // by lower-case alias
};

}  // namespace kallomir
