#pragma once

#include "core/RuntimeError.h"

#include <QChar>
#include <QString>

#include <array>
#include <optional>

namespace kallomir {

struct AppContext;

// One entry of the record format list: its text and the code stored as "Record Format".
struct RecordFormatEntry {
    const char* text;
    qint32 code;
};

inline constexpr std::array<RecordFormatEntry, 8> kRecordFormatList{{
    {"8000 Hz 8 bit", 1},
    {"8000 Hz 16 bit", 2},
    {"11025 Hz 8 bit", 4},
    {"11025 Hz 16 bit", 8},
    {"22050 Hz 8 bit", 16},
    {"22050 Hz 16 bit", 32},
    {"44100Hz 8 bit", 64},
    {"44100Hz 16 bit", 128},
}};

// "TAPI V" + major + "." + minor of a line's API version (major in the upper 16 bits,
// minor in the low 8).
QString TapiVersionText(qint32 version);

// The folder name and number boxes take letters, digits and backspace only.
bool IsFolderNameKey(QChar key);
// Text a key press types into a box, as against an editing key's control character.
bool IsTypedText(const QString& keyText);
inline constexpr int kFolderNameLength = 8;

// The rings box when it is left: empty text is left for OK to fill in; anything that is not
// a whole number from 1 to 10 is refused.
enum class RingsCheck { Accepted, Empty, Refused };
RingsCheck CheckRings(const QString& text);
inline const QString kDefaultRings = QStringLiteral("2");

// The folder size limit typed in its box, in millions of bytes; nothing for text that is
// not a number or is below 0.
std::optional<double> FolderLimitValue(const QString& text);

// The plain recordings folder name (NOME) of a RecFolder that holds NOME + "/" + number.
QString PlainFolderName(const QString& recFolder, const QString& folderNumber);

// Counts the failures of one run of an operation that retries a failing step: the step is
// repeated until it succeeds or the run has failed kMaxFailures times (49 retries), when
// run() throws the last error as RetryExhausted.
class RetryBudget {
public:
    static constexpr int kMaxFailures = 50;

    struct Exhausted {
        RuntimeError error;
    };

    template <class Step>
    auto run(Step&& step) -> decltype(step()) {
        for (;;) {
            try {
                return step();
            } catch (const RuntimeError& error) {
                if (++failures_ >= kMaxFailures)
                    throw Exhausted{error};
            }
        }
    }
    int failures() const { return failures_; }

private:
    int failures_ = 0;
};

// Applies the stored line choice to the recorder's telephony control: closes the line if
// open, chooses "Line Device", privilege 4, opens it. When the steps keep failing the
// recorder falls back to recording from its line input. Returns true when the line opened.
bool TransferSettings(AppContext& ctx);

}  // namespace kallomir
