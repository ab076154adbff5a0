#pragma once

#include <QFrame>
#include <QHash>
#include <QString>

class QAction;
class QTextEdit;
class QToolBar;

namespace kallomir {

class MessageBoxService;
class PlayerDialogs;

// The editor frame Frame2: the toolbar tlbStandar above the rich-text box rtfTesto.
// Disabling the frame disables the toolbar and the text together.
class TranscriptionEditor : public QFrame {
    Q_OBJECT
public:
    TranscriptionEditor(MessageBoxService& boxes, PlayerDialogs& dialogs,
                        QWidget* parent = nullptr);

    QTextEdit* rtfTesto() const { return text_; }
    QToolBar* tlbStandar() const { return toolbar_; }
    QAction* button(const QString& key) const { return buttons_.value(key); }
    void setDialogs(PlayerDialogs& dialogs) { dialogs_ = &dialogs; }

    // The whole content as rich text, and replacing it from rich (or plain) text.
    QByteArray textRtf() const;
    void setTextRtf(const QByteArray& rtf);

    // The toolbar's click handler, by button key.
    void tlbStandar_ButtonClick(const QString& key);
    // Keeps bold, italic and underline pressed exactly when the selection has them.
    void Timer1_Timer();

private:
    void toggle(const QString& key);
    void reportFileError(const QString& title, const QString& path, const QString& reason);

    MessageBoxService& boxes_;
    PlayerDialogs* dialogs_;
    QToolBar* toolbar_;
    QTextEdit* text_;
    QHash<QString, QAction*> buttons_;
};

}  // namespace kallomir
