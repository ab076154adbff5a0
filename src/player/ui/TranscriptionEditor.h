#pragma once

#include <QFrame>
#include <QHash>
#include <QString>

#include <cstdint>
#include <optional>

class QAction;
class QSyntaxHighlighter;
class QTextDocument;
class QTextEdit;
class QToolBar;

namespace kallomir {

class MessageBoxService;
class PlayerDialogs;

// The editor frame Frame2: the toolbar tlbStandar above the rich-text box rtfTesto.
// Disabling the frame disables the toolbar and the text together. With editing off the text
// stays readable (read-only, in the normal colour) and its time marks can still be followed.
class TranscriptionEditor : public QFrame {
    Q_OBJECT
public:
    TranscriptionEditor(MessageBoxService& boxes, PlayerDialogs& dialogs,
                        QWidget* parent = nullptr);

    QTextEdit* rtfTesto() const { return text_; }
    QToolBar* tlbStandar() const { return toolbar_; }
    QAction* button(const QString& key) const { return buttons_.value(key); }
    void setDialogs(PlayerDialogs& dialogs) { dialogs_ = &dialogs; }

    // The whole content as rich text, and replacing it from rich (or plain) text. The new
    // text is built in a document of its own and then put in place, so the editor lays it
    // out once, however many formatting runs it has.
    QByteArray textRtf() const;
    void setTextRtf(const QByteArray& rtf);

    // An empty transcription in plain formatting (nothing of the previous text carries over).
    void clearText() { setTextRtf(QByteArray()); }

    // Editing on: text and toolbar usable. Off: toolbar off, text read-only.
    void setEditable(bool editable);
    bool editable() const;

    // Puts text at the cursor, in the cursor's character format.
    void insertAtCursor(const QString& text);
    // The time mark under the cursor, in seconds.
    std::optional<std::int64_t> timestampAtCursor() const;

    // The toolbar's click handler, by button key.
    void tlbStandar_ButtonClick(const QString& key);
    // Keeps bold, italic and underline pressed exactly when the selection has them.
    void Timer1_Timer();

signals:
    // Ctrl+click on a time mark.
    void timestampActivated(std::int64_t seconds);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void toggle(const QString& key);
    void adoptDocument(QTextDocument* document);
    void reportFileError(const QString& title, const QString& path, const QString& reason);

    MessageBoxService& boxes_;
    PlayerDialogs* dialogs_;
    QToolBar* toolbar_;
    QTextEdit* text_;
    QHash<QString, QAction*> buttons_;
    QSyntaxHighlighter* marks_ = nullptr;
    bool editable_ = true;
};

}  // namespace kallomir
