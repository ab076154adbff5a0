#include "player/ui/TranscriptionEditor.h"

#include "core/MessageBoxService.h"
#include "player/RtfReader.h"
#include "player/RtfWriter.h"
#include "player/Timestamps.h"
#include "player/ui/PlayerDialogs.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QFile>
#include <QMouseEvent>
#include <QPainter>
#include <QPixmap>
#include <QSaveFile>
#include <QStyle>
#include <QSyntaxHighlighter>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocumentFragment>
#include <QTextEdit>
#include <QToolBar>
#include <QVBoxLayout>

#include <functional>

namespace kallomir {

namespace {

const QString kFileFilter =
    QStringLiteral("File di testo (*.txt);;Rich Text File (*.rtf);;Tutti i file (*)");

// True when every character of the selection (or the format at the cursor when nothing is
// selected) satisfies the test; a mixed selection is not.
bool SelectionAll(const QTextCursor& cursor,
                  const std::function<bool(const QTextCharFormat&)>& test) {
    if (!cursor.hasSelection())
        return test(cursor.charFormat());
    const int start = cursor.selectionStart();
    const int end = cursor.selectionEnd();
    QTextDocument* doc = cursor.document();
    for (QTextBlock block = doc->findBlock(start); block.isValid() && block.position() < end;
         block = block.next()) {
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            const QTextFragment f = it.fragment();
            if (f.position() + f.length() <= start || f.position() >= end)
                continue;
            if (!test(f.charFormat()))
                return false;
        }
    }
    return true;
}

// Lines of text set left, centred or right: the picture of an alignment button.
QIcon AlignmentIcon(Qt::Alignment alignment) {
    QPixmap pixmap(16, 16);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setPen(QPen(Qt::black, 1));
    const int widths[4] = {14, 9, 12, 7};
    for (int i = 0; i < 4; ++i) {
        const int w = widths[i];
        const int x = alignment & Qt::AlignLeft    ? 1
                      : alignment & Qt::AlignRight ? 15 - w
                                                   : (16 - w) / 2;
        painter.drawLine(x, 2 + 4 * i, x + w - 1, 2 + 4 * i);
    }
    return QIcon(pixmap);
}

// Time marks look like links, on screen only: the stored text stays plain.
class TimestampHighlighter : public QSyntaxHighlighter {
public:
    using QSyntaxHighlighter::QSyntaxHighlighter;

protected:
    void highlightBlock(const QString& text) override {
        if (!text.contains(u'['))
            return;
        QTextCharFormat mark;
        mark.setForeground(QColor(20, 80, 170));
        mark.setFontUnderline(true);
        for (const TimestampMark& m : FindTimestamps(text)) setFormat(m.start, m.length, mark);
    }
};

QString SelectionText(const QTextCursor& cursor) {
    QString text = cursor.selectedText();
    text.replace(QChar::ParagraphSeparator, u'\n');
    text.replace(QChar::LineSeparator, u'\n');
    return text;
}

}  // namespace

TranscriptionEditor::TranscriptionEditor(MessageBoxService& boxes, PlayerDialogs& dialogs,
                                         QWidget* parent)
    : QFrame(parent), boxes_(boxes), dialogs_(&dialogs) {
    setObjectName(QStringLiteral("Frame2"));
    setFrameShape(QFrame::StyledPanel);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(2, 2, 2, 2);
    toolbar_ = new QToolBar(this);
    toolbar_->setObjectName(QStringLiteral("tlbStandar"));
    toolbar_->setIconSize(QSize(16, 16));
    text_ = new QTextEdit(this);
    text_->setObjectName(QStringLiteral("rtfTesto"));
    text_->setAcceptRichText(
        false);  // pasted text arrives as text, as the clipboard command gives it
    layout->addWidget(toolbar_);
    layout->addWidget(text_, 1);

    struct Button {
        const char* key;
        const char* tooltip;
        QStyle::StandardPixmap icon;
        const char* label;
    };
    const Button kButtons[] = {
        {"Stampa", "Stampa", QStyle::SP_FileDialogDetailedView, "Stampa"},
        {"open", "Apri File", QStyle::SP_DialogOpenButton, nullptr},
        {"save", "Salva il file", QStyle::SP_DialogSaveButton, nullptr},
        {"sep01", nullptr, QStyle::SP_CustomBase, nullptr},
        {"copy", "Copia", QStyle::SP_CustomBase, "Copia"},
        {"cut", "Taglia", QStyle::SP_CustomBase, "Taglia"},
        {"paste", "Incolla", QStyle::SP_CustomBase, "Incolla"},
        {"spe03", nullptr, QStyle::SP_CustomBase, nullptr},
        {"bold", "Grassetto", QStyle::SP_CustomBase, "G"},
        {"italic", "Corsivo", QStyle::SP_CustomBase, "C"},
        {"underlinee", "Sottolineato", QStyle::SP_CustomBase, "S"},
        {"sep04", nullptr, QStyle::SP_CustomBase, nullptr},
        {"aleft", nullptr, QStyle::SP_CustomBase, nullptr},
        {"acenter", nullptr, QStyle::SP_CustomBase, nullptr},
        {"aright", nullptr, QStyle::SP_CustomBase, nullptr},
        {"sep05", nullptr, QStyle::SP_CustomBase, nullptr},
        {"font", nullptr, QStyle::SP_CustomBase, "Font"},
        {"color", nullptr, QStyle::SP_CustomBase, "Colore"},
    };
    for (const Button& b : kButtons) {
        const QString key = QString::fromLatin1(b.key);
        if (key.startsWith(QStringLiteral("sep")) || key.startsWith(QStringLiteral("spe"))) {
            QAction* separator = toolbar_->addSeparator();
            separator->setObjectName(key);
            buttons_.insert(key, separator);
            continue;
        }
        QAction* action = toolbar_->addAction(b.label ? QString::fromUtf8(b.label) : key);
        if (b.icon != QStyle::SP_CustomBase)
            action->setIcon(style()->standardIcon(b.icon));
        if (key == u"aleft" || key == u"acenter" || key == u"aright") {
            action->setIcon(AlignmentIcon(key == u"aleft"     ? Qt::AlignLeft
                                          : key == u"acenter" ? Qt::AlignHCenter
                                                              : Qt::AlignRight));
        }
        action->setObjectName(key);
        action->setData(key);
        if (b.tooltip)
            action->setToolTip(QString::fromUtf8(b.tooltip));
        if (key == u"bold" || key == u"italic" || key == u"underlinee")
            action->setCheckable(true);
        if (key == u"bold") {
            QFont f = action->font();
            f.setBold(true);
            action->setFont(f);
        } else if (key == u"italic") {
            QFont f = action->font();
            f.setItalic(true);
            action->setFont(f);
        } else if (key == u"underlinee") {
            QFont f = action->font();
            f.setUnderline(true);
            action->setFont(f);
        }
        connect(action, &QAction::triggered, this, [this, key] { tlbStandar_ButtonClick(key); });
        buttons_.insert(key, action);
    }
    marks_ = new TimestampHighlighter(static_cast<QObject*>(this));
    marks_->setDocument(text_->document());
    text_->viewport()->installEventFilter(this);
    text_->viewport()->setMouseTracking(true);

    // The mirror follows the selection as it changes, which shows the same as polling it.
    connect(text_, &QTextEdit::cursorPositionChanged, this, &TranscriptionEditor::Timer1_Timer);
    connect(text_, &QTextEdit::selectionChanged, this, &TranscriptionEditor::Timer1_Timer);
    connect(text_, &QTextEdit::currentCharFormatChanged, this, &TranscriptionEditor::Timer1_Timer);
}

QByteArray TranscriptionEditor::textRtf() const {
    return DocumentToRtf(*text_->document());
}

void TranscriptionEditor::setTextRtf(const QByteArray& rtf) {
    // Filled while no editor shows it: inserting run by run into the shown document would lay
    // the paragraph out again after every run.
    auto* document = new QTextDocument(text_);
    const QTextDocument* old = text_->document();
    document->setDefaultFont(old->defaultFont());
    document->setDefaultTextOption(old->defaultTextOption());
    document->setDocumentMargin(old->documentMargin());
    document->setDefaultStyleSheet(old->defaultStyleSheet());
    LoadRtfOrPlainText(*document, rtf);
    adoptDocument(document);
    Timer1_Timer();
}

void TranscriptionEditor::adoptDocument(QTextDocument* document) {
    // The editor deletes the document it made itself as it lets go of it; ours go here.
    QTextDocument* old = text_->document();
    const bool ours = old && old->parent() == text_;
    text_->setDocument(document);
    marks_->setDocument(document);
    if (ours)
        delete old;
    text_->moveCursor(QTextCursor::Start);
    setEditable(editable_);
}

void TranscriptionEditor::setEditable(bool editable) {
    editable_ = editable;
    toolbar_->setEnabled(editable);
    text_->setReadOnly(!editable);
    // Read-only text can still be walked with the keys, to reach a time mark.
    if (!editable) {
        text_->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    }
}

bool TranscriptionEditor::editable() const {
    return editable_ && isEnabled();
}

void TranscriptionEditor::insertAtCursor(const QString& text) {
    QTextCursor cursor = text_->textCursor();
    cursor.insertText(text);
    text_->setTextCursor(cursor);
}

std::optional<std::int64_t> TranscriptionEditor::timestampAtCursor() const {
    const QTextCursor cursor = text_->textCursor();
    const QTextBlock block = cursor.block();
    const auto mark = TimestampAt(block.text(), cursor.position() - block.position());
    if (!mark)
        return std::nullopt;
    return mark->seconds;
}

bool TranscriptionEditor::eventFilter(QObject* watched, QEvent* event) {
    if (watched != text_->viewport())
        return QFrame::eventFilter(watched, event);
    if (event->type() == QEvent::MouseMove) {
        // A pointing hand over a time mark while Ctrl is held says it can be followed.
        const auto* move = static_cast<QMouseEvent*>(event);
        const QTextCursor at = text_->cursorForPosition(move->position().toPoint());
        const bool onMark = (move->modifiers() & Qt::ControlModifier) &&
                            TimestampAt(at.block().text(), at.position() - at.block().position());
        text_->viewport()->setCursor(
            onMark ? Qt::PointingHandCursor
                   : (text_->isReadOnly() ? Qt::ArrowCursor : Qt::IBeamCursor));
    } else if (event->type() == QEvent::MouseButtonPress) {
        const auto* press = static_cast<QMouseEvent*>(event);
        if (press->button() == Qt::LeftButton && (press->modifiers() & Qt::ControlModifier)) {
            const QTextCursor at = text_->cursorForPosition(press->position().toPoint());
            const auto mark = TimestampAt(at.block().text(), at.position() - at.block().position());
            if (mark) {
                emit timestampActivated(mark->seconds);
                return true;
            }
        }
    }
    return QFrame::eventFilter(watched, event);
}

void TranscriptionEditor::toggle(const QString& key) {
    QTextCursor cursor = text_->textCursor();
    QTextCharFormat change;
    if (key == u"bold") {
        const bool all = SelectionAll(
            cursor, [](const QTextCharFormat& f) { return f.fontWeight() > QFont::Normal; });
        change.setFontWeight(all ? QFont::Normal : QFont::Bold);
    } else if (key == u"italic") {
        const bool all =
            SelectionAll(cursor, [](const QTextCharFormat& f) { return f.fontItalic(); });
        change.setFontItalic(!all);
    } else {
        const bool all =
            SelectionAll(cursor, [](const QTextCharFormat& f) { return f.fontUnderline(); });
        change.setFontUnderline(!all);
    }
    cursor.mergeCharFormat(change);
    text_->mergeCurrentCharFormat(change);
}

void TranscriptionEditor::reportFileError(const QString& title, const QString& path,
                                          const QString& reason) {
    boxes_.show(title + QStringLiteral(": ") + path + u'\n' + reason, kApplicationTitle,
                MsgButtons::Ok, MsgIcon::Critical);
}

void TranscriptionEditor::tlbStandar_ButtonClick(const QString& key) {
    QTextCursor cursor = text_->textCursor();
    if (key == u"open") {
        const auto name = dialogs_->openFileName(this, QStringLiteral("Apri file..."), kFileFilter);
        if (!name)
            return;
        QFile file(*name);
        if (!file.open(QIODevice::ReadOnly)) {
            reportFileError(QStringLiteral("Impossibile aprire il file"), *name,
                            file.errorString());
            return;
        }
        setTextRtf(file.readAll());
    } else if (key == u"save") {
        const auto name =
            dialogs_->saveFileName(this, QStringLiteral("Salva file con nome..."), kFileFilter);
        if (!name)
            return;
        // Rich text whatever the name's extension; written whole or not at all.
        QSaveFile file(*name);
        if (!file.open(QIODevice::WriteOnly) || file.write(textRtf()) < 0 || !file.commit()) {
            reportFileError(QStringLiteral("Impossibile salvare il file"), *name,
                            file.errorString());
        }
    } else if (key == u"copy") {
        QApplication::clipboard()->setText(SelectionText(cursor));
    } else if (key == u"cut") {
        QApplication::clipboard()->setText(SelectionText(cursor));
        if (cursor.hasSelection()) {
            cursor.removeSelectedText();
            text_->setTextCursor(cursor);
        }
    } else if (key == u"paste") {
        cursor.insertText(QApplication::clipboard()->text());
        text_->setTextCursor(cursor);
    } else if (key == u"bold" || key == u"italic" || key == u"underlinee") {
        toggle(key);
    } else if (key == u"aleft" || key == u"acenter" || key == u"aright") {
        QTextBlockFormat format;
        format.setAlignment(key == u"aleft"     ? Qt::AlignLeft
                            : key == u"acenter" ? Qt::AlignHCenter
                                                : Qt::AlignRight);
        cursor.mergeBlockFormat(format);
    } else if (key == u"font") {
        const auto font = dialogs_->font(this, cursor.charFormat().font());
        if (!font)
            return;
        QTextCharFormat change;
        change.setFontFamilies({font->family()});
        if (font->pointSizeF() > 0)
            change.setFontPointSize(font->pointSizeF());
        cursor.mergeCharFormat(change);
        text_->mergeCurrentCharFormat(change);
    } else if (key == u"color") {
        const auto colour = dialogs_->color(this, cursor.charFormat().foreground().color());
        if (!colour)
            return;
        QTextCharFormat change;
        change.setForeground(*colour);
        cursor.mergeCharFormat(change);
        text_->mergeCurrentCharFormat(change);
    } else if (key == u"Stampa") {
        // The selection, or the whole text when nothing is selected.
        QTextDocument selection;
        QTextDocument* what = text_->document();
        if (cursor.hasSelection()) {
            QTextCursor(&selection).insertFragment(cursor.selection());
            what = &selection;
        }
        dialogs_->print(this, *what);
    }
    Timer1_Timer();
}

void TranscriptionEditor::Timer1_Timer() {
    const QTextCursor cursor = text_->textCursor();
    buttons_.value(QStringLiteral("bold"))
        ->setChecked(SelectionAll(
            cursor, [](const QTextCharFormat& f) { return f.fontWeight() > QFont::Normal; }));
    buttons_.value(QStringLiteral("italic"))
        ->setChecked(SelectionAll(cursor, [](const QTextCharFormat& f) { return f.fontItalic(); }));
    buttons_.value(QStringLiteral("underlinee"))
        ->setChecked(
            SelectionAll(cursor, [](const QTextCharFormat& f) { return f.fontUnderline(); }));
}

}  // namespace kallomir
