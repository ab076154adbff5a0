#include "player/RtfReader.h"

#include "player/Cp1252.h"

#include <QColor>
#include <QHash>
#include <QStringDecoder>
#include <QTextCursor>
#include <QTextDocument>

#include <algorithm>
#include <vector>

namespace kallomir {

namespace {

struct CharState {
    bool bold = false;
    bool italic = false;
    bool underline = false;
    int font = -1;  // -1: the document's default font (\deff)
    int halfPoints = 24;
    int colour = 0;
    bool operator==(const CharState&) const = default;
};

enum class Destination { Text, FontTable, ColourTable, Skip };

struct GroupState {
    CharState ch;
    Qt::Alignment alignment = Qt::AlignLeft;
    Destination destination = Destination::Text;
    int unicodeSkip = 1;  // \ucN: fallback characters after each \uN
};

// Receives what the parser reads, in order.
class Sink {
public:
    virtual ~Sink() = default;
    virtual void character(QChar ch, const GroupState& state) = 0;
    virtual void paragraphEnd(const GroupState& state) = 0;
    virtual void documentEnd(const GroupState& state) = 0;
};

struct Tables {
    QHash<int, QString> fonts;
    std::vector<QColor> colours;  // invalid entries stand for the automatic colour
    int defaultFont = 0;
};

bool IsSkippedDestination(const QByteArray& word) {
    static const QByteArray kSkipped[] = {"stylesheet",
                                          "info",
                                          "pict",
                                          "object",
                                          "header",
                                          "footer",
                                          "headerl",
                                          "headerr",
                                          "headerf",
                                          "footerl",
                                          "footerr",
                                          "footerf",
                                          "footnote",
                                          "annotation",
                                          "themedata",
                                          "colorschememapping",
                                          "latentstyles",
                                          "datastore",
                                          "xmlnstbl",
                                          "listtable",
                                          "listoverridetable",
                                          "rsidtbl",
                                          "revtbl",
                                          "pntext",
                                          "pntxta",
                                          "pntxtb",
                                          "nonshppict",
                                          "shp",
                                          "shpinst",
                                          "fldinst",
                                          "filetbl",
                                          "generator",
                                          "mmathPr",
                                          "falt",
                                          "panose",
                                          "xe",
                                          "tc",
                                          "private",
                                          "bkmkstart",
                                          "bkmkend",
                                          "comment",
                                          "atnid",
                                          "atnauthor",
                                          "userprops",
                                          "template",
                                          "docvar"};
    return std::find(std::begin(kSkipped), std::end(kSkipped), word) != std::end(kSkipped);
}

int HexValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

class Parser {
public:
    Parser(const QByteArray& data, Sink& sink, Tables& tables)
        : data_(data), sink_(sink), tables_(tables) {}

    void run() {
        stack_.push_back(GroupState{});
        const qsizetype n = data_.size();
        while (pos_ < n) {
            const char c = data_[pos_];
            if (c == '{') {
                ++pos_;
                pendingSkip_ = 0;
                openGroup();
            } else if (c == '}') {
                ++pos_;
                pendingSkip_ = 0;
                if (!closeGroup())
                    break;  // the outermost group is closed: the document ends
            } else if (c == '\\') {
                ++pos_;
                controlSequence();
            } else {
                ++pos_;
                textByte(static_cast<unsigned char>(c));
            }
        }
        sink_.documentEnd(state());
    }

private:
    static constexpr size_t kMaxDepth = 4096;

    GroupState& state() { return stack_.back(); }

    void openGroup() {
        if (stack_.size() >= kMaxDepth) {
            ++overflowDepth_;
            return;
        }
        stack_.push_back(stack_.back());
    }

    bool closeGroup() {
        if (overflowDepth_ > 0) {
            --overflowDepth_;
            return true;
        }
        if (state().destination == Destination::FontTable)
            commitFont();
        // stack_[0] holds the defaults, stack_[1] the document's own group: closing that one
        // ends the document, with its paragraph settings still in force for the last block.
        if (stack_.size() <= 2)
            return false;
        stack_.pop_back();
        return true;
    }

    void commitFont() {
        const QString name = fontName_.trimmed();
        if (fontNumber_ >= 0 && !name.isEmpty() && !tables_.fonts.contains(fontNumber_)) {
            tables_.fonts.insert(fontNumber_, name);
        }
        fontName_.clear();
    }

    void controlSequence() {
        const qsizetype n = data_.size();
        if (pos_ >= n)
            return;
        const char c = data_[pos_];
        const bool letter = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
        if (!letter) {
            ++pos_;
            controlSymbol(c);
            return;
        }
        const qsizetype start = pos_;
        while (pos_ < n && pos_ - start < 32 &&
               ((data_[pos_] >= 'a' && data_[pos_] <= 'z') ||
                (data_[pos_] >= 'A' && data_[pos_] <= 'Z'))) {
            ++pos_;
        }
        const QByteArray word = data_.mid(start, pos_ - start);
        bool hasParam = false;
        long long param = 0;
        bool negative = false;
        if (pos_ < n && data_[pos_] == '-' && pos_ + 1 < n && data_[pos_ + 1] >= '0' &&
            data_[pos_ + 1] <= '9') {
            negative = true;
            ++pos_;
        }
        int digits = 0;
        while (pos_ < n && data_[pos_] >= '0' && data_[pos_] <= '9') {
            if (digits < 10)
                param = param * 10 + (data_[pos_] - '0');
            ++digits;
            ++pos_;
            hasParam = true;
        }
        if (pos_ < n && data_[pos_] == ' ')
            ++pos_;
        param = std::clamp(negative ? -param : param, -2147483647LL, 2147483647LL);
        if (pendingSkip_ > 0 && word != "u") {
            --pendingSkip_;
            return;
        }
        controlWord(word, hasParam, static_cast<int>(param));
    }

    void controlSymbol(char c) {
        if (c == '\'') {
            const qsizetype n = data_.size();
            int value = -1;
            if (pos_ + 1 < n) {
                const int hi = HexValue(data_[pos_]);
                const int lo = HexValue(data_[pos_ + 1]);
                if (hi >= 0 && lo >= 0) {
                    value = hi * 16 + lo;
                    pos_ += 2;
                }
            }
            if (pendingSkip_ > 0) {
                --pendingSkip_;
                return;
            }
            if (value >= 0)
                put(Cp1252ToUnicode(static_cast<unsigned char>(value)));
            return;
        }
        if (pendingSkip_ > 0) {
            --pendingSkip_;
            return;
        }
        switch (c) {
            case '\\':
            case '{':
            case '}':
                put(QChar(static_cast<char16_t>(c)));
                break;
            case '~':
                put(QChar(QChar::Nbsp));
                break;
            case '_':
                put(QChar(0x2011));
                break;
            case '*':
                // Starred destinations are optional: a reader that does not know one skips it.
                state().destination = Destination::Skip;
                break;
            case '\n':
            case '\r':
                paragraph();
                break;
            default:
                break;  // \- optional hyphen, \: index entry, \| formula: nothing to show
        }
    }

    void controlWord(const QByteArray& word, bool hasParam, int param) {
        GroupState& s = state();
        const bool on = !hasParam || param != 0;
        if (IsSkippedDestination(word)) {
            s.destination = Destination::Skip;
        } else if (word == "fonttbl") {
            if (s.destination != Destination::Skip)
                s.destination = Destination::FontTable;
        } else if (word == "colortbl") {
            if (s.destination != Destination::Skip)
                s.destination = Destination::ColourTable;
        } else if (word == "f") {
            if (s.destination == Destination::FontTable) {
                commitFont();
                fontNumber_ = hasParam ? param : 0;
            } else {
                s.ch.font = hasParam ? param : 0;
            }
        } else if (word == "deff") {
            tables_.defaultFont = hasParam ? param : 0;
        } else if (word == "red" || word == "green" || word == "blue") {
            const int v = std::clamp(hasParam ? param : 0, 0, 255);
            colourSet_ = true;
            if (word == "red")
                red_ = v;
            if (word == "green")
                green_ = v;
            if (word == "blue")
                blue_ = v;
        } else if (word == "b") {
            s.ch.bold = on;
        } else if (word == "i") {
            s.ch.italic = on;
        } else if (word == "ul") {
            s.ch.underline = on;
        } else if (word == "ulnone") {
            s.ch.underline = false;
        } else if (word == "fs") {
            s.ch.halfPoints = hasParam && param > 0 ? std::min(param, 3276) : 24;
        } else if (word == "cf") {
            s.ch.colour = hasParam ? std::max(param, 0) : 0;
        } else if (word == "plain") {
            s.ch = CharState{};
        } else if (word == "pard") {
            s.alignment = Qt::AlignLeft;
        } else if (word == "ql") {
            s.alignment = Qt::AlignLeft;
        } else if (word == "qc") {
            s.alignment = Qt::AlignHCenter;
        } else if (word == "qr") {
            s.alignment = Qt::AlignRight;
        } else if (word == "qj") {
            s.alignment = Qt::AlignJustify;
        } else if (word == "par" || word == "sect") {
            paragraph();
        } else if (word == "line") {
            put(QChar(QChar::LineSeparator));
        } else if (word == "tab") {
            put(QChar(u'\t'));
        } else if (word == "uc") {
            s.unicodeSkip = std::clamp(hasParam ? param : 1, 0, 16);
        } else if (word == "u") {
            if (hasParam) {
                // A signed 16-bit number: negative values stand for the upper half.
                const int code = param < 0 ? param + 65536 : param;
                if (code > 0 && code <= 0xFFFF)
                    put(QChar(static_cast<char16_t>(code)));
            }
            pendingSkip_ = s.unicodeSkip;
        } else if (word == "emdash") {
            put(QChar(0x2014));
        } else if (word == "endash") {
            put(QChar(0x2013));
        } else if (word == "lquote") {
            put(QChar(0x2018));
        } else if (word == "rquote") {
            put(QChar(0x2019));
        } else if (word == "ldblquote") {
            put(QChar(0x201C));
        } else if (word == "rdblquote") {
            put(QChar(0x201D));
        } else if (word == "bullet") {
            put(QChar(0x2022));
        } else if (word == "emspace" || word == "enspace" || word == "qmspace") {
            put(QChar(u' '));
        }
        // Everything else (page set-up, spacing, charset, language, ...) changes nothing here.
    }

    void textByte(unsigned char byte) {
        if (byte == '\r' || byte == '\n')
            return;
        if (pendingSkip_ > 0) {
            --pendingSkip_;
            return;
        }
        if (byte == '\t') {
            put(QChar(u'\t'));
            return;
        }
        if (byte < 0x20)
            return;
        put(Cp1252ToUnicode(byte));
    }

    void put(QChar ch) {
        GroupState& s = state();
        switch (s.destination) {
            case Destination::Text:
                // Control characters (from \'hh or \uN) carry nothing a reader can show.
                if (ch.unicode() >= 0x20 || ch == u'\t')
                    sink_.character(ch, s);
                break;
            case Destination::FontTable:
                if (ch == u';') {
                    commitFont();
                } else {
                    fontName_ += ch;
                }
                break;
            case Destination::ColourTable:
                if (ch == u';') {
                    tables_.colours.push_back(colourSet_ ? QColor(red_, green_, blue_) : QColor());
                    colourSet_ = false;
                    red_ = green_ = blue_ = 0;
                }
                break;
            case Destination::Skip:
                break;
        }
    }

    void paragraph() {
        if (state().destination == Destination::Text)
            sink_.paragraphEnd(state());
    }

    const QByteArray& data_;
    Sink& sink_;
    Tables& tables_;
    qsizetype pos_ = 0;
    std::vector<GroupState> stack_;
    size_t overflowDepth_ = 0;
    int pendingSkip_ = 0;
    int fontNumber_ = -1;
    QString fontName_;
    bool colourSet_ = false;
    int red_ = 0, green_ = 0, blue_ = 0;
};

class DocumentSink : public Sink {
public:
    // One edit for the whole text: inserted run by run outside an edit, each run would lay
    // the paragraph out again (minutes for a transcription of 20 000 runs).
    DocumentSink(QTextDocument& document, const Tables& tables)
        : cursor_(&document), tables_(tables) {
        cursor_.beginEditBlock();
    }
    ~DocumentSink() override { cursor_.endEditBlock(); }
    DocumentSink(const DocumentSink&) = delete;
    DocumentSink& operator=(const DocumentSink&) = delete;

    void character(QChar ch, const GroupState& state) override {
        if (!run_.isEmpty() && !(state.ch == runState_))
            flush();
        runState_ = state.ch;
        run_ += ch;
    }
    void paragraphEnd(const GroupState& state) override {
        flush();
        setAlignment(state.alignment);
        cursor_.insertBlock();
    }
    void documentEnd(const GroupState& state) override {
        flush();
        setAlignment(state.alignment);
    }

private:
    void setAlignment(Qt::Alignment alignment) {
        QTextBlockFormat format = cursor_.blockFormat();
        format.setAlignment(alignment);
        cursor_.setBlockFormat(format);
    }

    void flush() {
        if (run_.isEmpty())
            return;
        QTextCharFormat format;
        format.setFontWeight(runState_.bold ? QFont::Bold : QFont::Normal);
        format.setFontItalic(runState_.italic);
        format.setFontUnderline(runState_.underline);
        format.setFontPointSize(runState_.halfPoints / 2.0);
        const int font = runState_.font >= 0 ? runState_.font : tables_.defaultFont;
        const auto family = tables_.fonts.constFind(font);
        if (family != tables_.fonts.constEnd()) {
            format.setFontFamilies(QStringList{*family});
        }
        // \cfN numbers the table's entries from 0; entry 0 is usually the automatic colour,
        // written as an empty ';', and reads as invalid.
        const auto colourIndex = static_cast<size_t>(runState_.colour);
        if (colourIndex < tables_.colours.size()) {
            const QColor& colour = tables_.colours[colourIndex];
            if (colour.isValid())
                format.setForeground(colour);
        }
        cursor_.insertText(run_, format);
        run_.clear();
    }

    QTextCursor cursor_;
    const Tables& tables_;
    QString run_;
    CharState runState_;
};

class PlainSink : public Sink {
public:
    void character(QChar ch, const GroupState&) override {
        text += ch == QChar::LineSeparator ? QChar(u'\n') : ch;
    }
    void paragraphEnd(const GroupState&) override { text += u'\n'; }
    void documentEnd(const GroupState&) override {}
    QString text;
};

QByteArray WithoutBom(const QByteArray& data) {
    if (data.startsWith("\xEF\xBB\xBF"))
        return data.mid(3);
    return data;
}

// The rich text from its opening brace on (blanks and a byte-order mark before it dropped).
QByteArray RtfBody(const QByteArray& data) {
    QByteArray body = WithoutBom(data);
    const qsizetype start = body.indexOf('{');
    return start > 0 ? body.mid(start) : body;
}

QString DecodePlain(const QByteArray& raw) {
    const QByteArray data = WithoutBom(raw);
    QStringDecoder utf8(QStringDecoder::Utf8);
    QString text = utf8(data);
    if (!utf8.hasError())
        return text;
    text.clear();
    text.reserve(data.size());
    for (char c : data) text += Cp1252ToUnicode(static_cast<unsigned char>(c));
    return text;
}

}  // namespace

bool LooksLikeRtf(const QByteArray& data) {
    const QByteArray body = WithoutBom(data);
    qsizetype i = 0;
    while (i < body.size() &&
           (body[i] == ' ' || body[i] == '\t' || body[i] == '\r' || body[i] == '\n')) {
        ++i;
    }
    return body.mid(i, 5) == "{\\rtf";
}

void LoadRtfOrPlainText(QTextDocument& document, const QByteArray& data) {
    document.clear();
    if (!LooksLikeRtf(data)) {
        document.setPlainText(DecodePlain(data));
        return;
    }
    // The loaded text is where editing starts: it is no step to undo.
    const bool undo = document.isUndoRedoEnabled();
    document.setUndoRedoEnabled(false);
    {
        // The tables come before the text in every writer's output, so the sink can resolve
        // font and colour numbers as it goes.
        Tables tables;
        DocumentSink sink(document, tables);
        const QByteArray body = RtfBody(data);
        Parser(body, sink, tables).run();
    }
    document.setUndoRedoEnabled(undo);
}

QString RtfToPlainText(const QByteArray& data) {
    if (!LooksLikeRtf(data))
        return DecodePlain(data);
    Tables tables;
    PlainSink sink;
    const QByteArray body = RtfBody(data);
    Parser(body, sink, tables).run();
    return sink.text;
}

}  // namespace kallomir
