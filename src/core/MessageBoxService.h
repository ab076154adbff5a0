#pragma once

#include <QString>

namespace kallomir {

class RuntimeError;

// The application's default title, used by every message box that names no title of its own.
inline const QString kApplicationTitle = QStringLiteral("Kallomir");

enum class MsgIcon { None, Critical, Question, Exclamation, Information };
enum class MsgButtons { Ok, OkCancel, YesNo, YesNoCancel };
enum class MsgAnswer { Ok, Cancel, Yes, No };

// Every message box of the program goes through here, so tests can answer them and read
// their texts, titles, icons and buttons.
class MessageBoxService {
public:
    virtual ~MessageBoxService() = default;
    virtual MsgAnswer show(const QString& text, const QString& title = kApplicationTitle,
                           MsgButtons buttons = MsgButtons::Ok, MsgIcon icon = MsgIcon::None) = 0;
};

// "Error " + number + " " + description, critical icon, under the handler's title.
QString ErrorText(int number, const QString& description);
void ReportError(MessageBoxService& boxes, const RuntimeError& error, const QString& title);
void ReportError(MessageBoxService& boxes, int number, const QString& description,
                 const QString& title);

}  // namespace kallomir
