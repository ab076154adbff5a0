#include "player/RtfReader.h"
#include "player/RtfWriter.h"

#include <QAbstractTextDocumentLayout>
#include <QRandomGenerator>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextFragment>

#include <gtest/gtest.h>

using namespace kallomir;

namespace {

// The character format at a character position (0-based) of the document.
QTextCharFormat FormatAt(const QTextDocument& doc, int position) {
    QTextCursor c(const_cast<QTextDocument*>(&doc));
    c.setPosition(position);
    c.setPosition(position + 1, QTextCursor::KeepAnchor);
    return c.charFormat();
}

int IndexOf(const QTextDocument& doc, const QString& text) {
    return static_cast<int>(doc.toPlainText().indexOf(text));
}

QString Family(const QTextCharFormat& f) {
    const QStringList list = f.property(QTextFormat::FontFamilies).toStringList();
    return list.isEmpty() ? QString() : list.front();
}

QTextDocument* Load(QTextDocument& doc, const QByteArray& data) {
    LoadRtfOrPlainText(doc, data);
    return &doc;
}

}  // namespace

TEST(Rtf, RoundTripKeepsTextAndFormatting) {
    QTextDocument doc;
    QTextCursor c(&doc);
    QTextCharFormat plain;
    plain.setFontFamilies({QStringLiteral("Courier New")});
    plain.setFontPointSize(11);
    c.insertText(QStringLiteral("Chiamata del giorno: "), plain);
    QTextCharFormat strong = plain;
    strong.setFontWeight(QFont::Bold);
    strong.setForeground(QColor(200, 10, 20));
    c.insertText(QStringLiteral("Rossi"), strong);
    QTextCharFormat emphasis;
    emphasis.setFontFamilies({QStringLiteral("DejaVu Serif")});
    emphasis.setFontPointSize(16);
    emphasis.setFontItalic(true);
    emphasis.setFontUnderline(true);
    c.insertText(QStringLiteral(" {dice} \\ perché € “ok” 日本"), emphasis);
    QTextBlockFormat centred;
    centred.setAlignment(Qt::AlignHCenter);
    c.insertBlock(centred);
    c.insertText(QStringLiteral("centrato\tcon tab"), plain);
    QTextBlockFormat right;
    right.setAlignment(Qt::AlignRight);
    c.insertBlock(right);
    c.insertText(QStringLiteral("riga") + QChar(QChar::LineSeparator) + QStringLiteral("a capo"),
                 plain);

    const QByteArray rtf = DocumentToRtf(doc);
    SCOPED_TRACE(rtf.toStdString());
    for (char ch : rtf) ASSERT_LT(static_cast<unsigned char>(ch), 0x80) << "RTF must be 7-bit";

    QTextDocument back;
    Load(back, rtf);
    EXPECT_EQ(back.toPlainText(), doc.toPlainText());
    ASSERT_EQ(back.blockCount(), 3);
    EXPECT_TRUE(back.findBlockByNumber(0).blockFormat().alignment() & Qt::AlignLeft);
    EXPECT_TRUE(back.findBlockByNumber(1).blockFormat().alignment() & Qt::AlignHCenter);
    EXPECT_TRUE(back.findBlockByNumber(2).blockFormat().alignment() & Qt::AlignRight);

    const QTextCharFormat r = FormatAt(back, IndexOf(back, QStringLiteral("Rossi")));
    EXPECT_EQ(r.fontWeight(), QFont::Bold);
    EXPECT_EQ(r.foreground().color(), QColor(200, 10, 20));
    EXPECT_EQ(Family(r), QStringLiteral("Courier New"));
    EXPECT_DOUBLE_EQ(r.fontPointSize(), 11);

    const QTextCharFormat e = FormatAt(back, IndexOf(back, QStringLiteral("dice")));
    EXPECT_TRUE(e.fontItalic());
    EXPECT_TRUE(e.fontUnderline());
    EXPECT_NE(e.fontWeight(), QFont::Bold);
    EXPECT_EQ(Family(e), QStringLiteral("DejaVu Serif"));
    EXPECT_DOUBLE_EQ(e.fontPointSize(), 16);
    EXPECT_EQ(e.foreground().style(), Qt::NoBrush);

    const QTextCharFormat p = FormatAt(back, 0);
    EXPECT_FALSE(p.fontItalic());
    EXPECT_NE(p.fontWeight(), QFont::Bold);

    // Writing again gives the same bytes: nothing drifts from save to save.
    EXPECT_EQ(DocumentToRtf(back), rtf);
}

TEST(Rtf, EmptyDocumentIsStoredAsRichTextAndReadsEmpty) {
    QTextDocument doc;
    const QByteArray rtf = DocumentToRtf(doc);
    EXPECT_TRUE(LooksLikeRtf(rtf));
    QTextDocument back;
    back.setPlainText(QStringLiteral("old"));
    Load(back, rtf);
    EXPECT_TRUE(back.toPlainText().isEmpty());
}

TEST(Rtf, ReadsWhatOtherWordProcessorsWrite) {
    // Header as WordPad writes it, with a style sheet, document information, a picture,
    // starred destinations, a colour table starting with the automatic entry, \uN with an
    // \'hh fallback and hex-escaped accented letters.
    const QByteArray wordpad =
        "{\\rtf1\\ansi\\ansicpg1252\\deff0\\nouicompat\\deflang1040"
        "{\\fonttbl{\\f0\\fnil\\fcharset0 Calibri;}{\\f1\\froman\\fprq2\\fcharset0 Times New "
        "Roman{\\*\\falt Times};}}\r\n"
        "{\\colortbl ;\\red255\\green0\\blue0;\\red0\\green0\\blue255;}\r\n"
        "{\\stylesheet{ Normal;}{\\s1 heading 1;}}\r\n"
        "{\\info{\\author Mario}{\\title Verbale}}\r\n"
        "{\\*\\generator Riched20 10.0.19041}\\viewkind4\\uc1 \r\n"
        "\\pard\\sa200\\sl276\\slmult1\\f0\\fs22\\lang16 Citt\\'e0 di \\b Roma\\b0 , "
        "\\cf1 rosso\\cf0  e \\i corsivo\\i0 .\\par\r\n"
        "\\pard\\qc\\f1\\fs32\\ul Titolo\\ulnone\\par\r\n"
        "{\\pict\\wmetafile8\\picw100\\pich100 0102030405060708}"
        "\\pard\\qr\\cf2 \\u8364\\'80 e \\u-10179?\\u-8704? fine\\par\r\n"
        "}\r\n";
    QTextDocument doc;
    Load(doc, wordpad);
    const QString text = doc.toPlainText();
    EXPECT_TRUE(text.startsWith(QStringLiteral("Città di Roma, rosso e corsivo.\nTitolo\n")))
        << text.toStdString();
    EXPECT_TRUE(text.contains(QStringLiteral("€ e ") + QChar(0xD83D) + QChar(0xDE00) +
                              QStringLiteral(" fine")))
        << text.toStdString();
    EXPECT_FALSE(text.contains(QStringLiteral("Mario")));
    EXPECT_FALSE(text.contains(QStringLiteral("Normal")));
    EXPECT_FALSE(text.contains(QStringLiteral("0102")));
    EXPECT_FALSE(text.contains(QStringLiteral("Riched")));

    EXPECT_EQ(FormatAt(doc, IndexOf(doc, QStringLiteral("Roma"))).fontWeight(), QFont::Bold);
    EXPECT_NE(FormatAt(doc, IndexOf(doc, QStringLiteral(", rosso"))).fontWeight(), QFont::Bold);
    EXPECT_EQ(FormatAt(doc, IndexOf(doc, QStringLiteral("rosso"))).foreground().color(),
              QColor(255, 0, 0));
    EXPECT_TRUE(FormatAt(doc, IndexOf(doc, QStringLiteral("corsivo"))).fontItalic());
    const QTextCharFormat title = FormatAt(doc, IndexOf(doc, QStringLiteral("Titolo")));
    EXPECT_TRUE(title.fontUnderline());
    EXPECT_EQ(Family(title), QStringLiteral("Times New Roman"));
    EXPECT_DOUBLE_EQ(title.fontPointSize(), 16);
    EXPECT_EQ(Family(FormatAt(doc, 0)), QStringLiteral("Calibri"));
    EXPECT_TRUE(doc.findBlockByNumber(1).blockFormat().alignment() & Qt::AlignHCenter);
    EXPECT_TRUE(doc.findBlockByNumber(2).blockFormat().alignment() & Qt::AlignRight);
    EXPECT_EQ(FormatAt(doc, IndexOf(doc, QStringLiteral("fine"))).foreground().color(),
              QColor(0, 0, 255));
}

TEST(Rtf, ReadsOfficeSuiteStyleWithNestedGroupsAndFields) {
    const QByteArray office =
        "{\\rtf1\\ansi\\deff3\\adeflang1025\n"
        "{\\fonttbl{\\f0\\froman\\fprq2\\fcharset0 Times New "
        "Roman;}{\\f3\\fswiss\\fprq2\\fcharset0 "
        "Liberation Sans;}}\n"
        "{\\colortbl;\\red0\\green0\\blue0;}\n"
        "{\\*\\listtable{\\list\\listtemplateid1{\\listlevel\\levelnfc23}}}\n"
        "{\\*\\rsidtbl \\rsid1}\n"
        "\\paperw11906\\paperh16838\\margl1134\n"
        "\\pard\\plain \\s0\\ql{\\rtlch \\ltrch\\loch Primo }{\\b\\rtlch \\ltrch\\loch grassetto}\n"
        "\\par \\pard\\plain {\\field{\\*\\fldinst HYPERLINK \"http://x\"}{\\fldrslt link}}\n"
        "\\par }";
    QTextDocument doc;
    Load(doc, office);
    EXPECT_EQ(doc.toPlainText(), QStringLiteral("Primo grassetto\nlink\n"));
    EXPECT_EQ(Family(FormatAt(doc, 0)), QStringLiteral("Liberation Sans"));  // \deff3
    EXPECT_EQ(FormatAt(doc, IndexOf(doc, QStringLiteral("grassetto"))).fontWeight(), QFont::Bold);
    EXPECT_NE(FormatAt(doc, 0).fontWeight(), QFont::Bold);
}

TEST(Rtf, TextThatIsNotRichTextLoadsAsPlainText) {
    QTextDocument doc;
    Load(doc, QByteArray("Nota: {non} \\rtf qui\nseconda riga \xc3\xa8"));
    EXPECT_EQ(doc.toPlainText(), QStringLiteral("Nota: {non} \\rtf qui\nseconda riga è"));
    // Not valid UTF-8: read as cp1252.
    Load(doc, QByteArray("caff\xe8 \x80"));
    EXPECT_EQ(doc.toPlainText(), QStringLiteral("caffè €"));
    // A byte-order mark before the rich text is tolerated.
    Load(doc, QByteArray("\xEF\xBB\xBF  {\\rtf1 ciao}"));
    EXPECT_EQ(doc.toPlainText(), QStringLiteral("ciao"));
    EXPECT_EQ(RtfToPlainText("{\\rtf1 a\\par b\\line c}"), QStringLiteral("a\nb\nc"));
    EXPECT_EQ(RtfToPlainText("testo"), QStringLiteral("testo"));
}

TEST(Rtf, DamagedInputLoadsWhatCanBeRead) {
    QTextDocument doc;
    // Unclosed groups: the text is kept.
    Load(doc, "{\\rtf1{\\b grassetto {\\i annidato");
    EXPECT_EQ(doc.toPlainText(), QStringLiteral("grassetto annidato"));
    // Extra closing braces end the document; nothing after them leaks in.
    Load(doc, "{\\rtf1 uno}} due}");
    EXPECT_EQ(doc.toPlainText(), QStringLiteral("uno"));
    // Cut-off control words, bad hex, huge parameters, \u out of range.
    Load(doc, "{\\rtf1\\fs99999999999999 a\\'zz b\\'4 \\u99999999 c\\f-5 d\\cf77 e\\");
    EXPECT_TRUE(doc.toPlainText().startsWith(QStringLiteral("a")));
    EXPECT_TRUE(doc.toPlainText().contains(QStringLiteral("e")));
    // Deep nesting does not exhaust anything.
    Load(doc, "{\\rtf1 " + QByteArray(100000, '{') + "x" + QByteArray(100000, '}') + " y}");
    EXPECT_TRUE(doc.toPlainText().contains(u'x'));
}

TEST(Rtf, RandomBytesNeverCrash) {
    QRandomGenerator rng(20261206);
    const QByteArray alphabet = "{}\\'*abfiuqlrcpsdt0123456789- ;\n\x80\xff";
    for (int round = 0; round < 400; ++round) {
        QByteArray data = "{\\rtf1 ";
        const int length = static_cast<int>(rng.bounded(1, 600));
        for (int i = 0; i < length; ++i) {
            if (rng.bounded(4) == 0) {
                data += static_cast<char>(rng.bounded(256));
            } else {
                data += alphabet[static_cast<int>(rng.bounded(alphabet.size()))];
            }
        }
        QTextDocument doc;
        LoadRtfOrPlainText(doc, data);
        (void)RtfToPlainText(data);
        // Whatever was read writes out as valid rich text that reads back to the same text.
        QTextDocument again;
        LoadRtfOrPlainText(again, DocumentToRtf(doc));
        ASSERT_EQ(again.toPlainText().toStdString(), doc.toPlainText().toStdString())
            << data.toPercentEncoding().toStdString();
    }
}

TEST(Rtf, ManyRunsAreReadAsOneEditThatIsNoStepToUndo) {
    QByteArray rtf = "{\\rtf1\\ansi{\\fonttbl{\\f0 Arial;}}\\f0 ";
    for (int i = 0; i < 3000; ++i) rtf += i % 2 ? "{\\b uno}" : "{\\i due}";
    rtf += "\\par [00:01:05] fine}";
    QTextDocument document;
    document.setPlainText(QStringLiteral("prima"));
    document.documentLayout();  // as a document an editor shows: changes are laid out
    int changes = 0;
    QObject::connect(&document, &QTextDocument::contentsChange, [&](int, int, int) { ++changes; });
    LoadRtfOrPlainText(document, rtf);
    // Run by run, each insert would be a change of its own (and a new layout of the paragraph).
    EXPECT_LE(changes, 3);
    EXPECT_FALSE(document.isUndoAvailable());
    EXPECT_TRUE(document.isUndoRedoEnabled());
    EXPECT_EQ(document.blockCount(), 2);
    EXPECT_EQ(document.lastBlock().text(), QStringLiteral("[00:01:05] fine"));
    EXPECT_EQ(document.firstBlock().text().size(), 3000 * 3);
    // Time marks come back as the plain text they went in as.
    EXPECT_TRUE(
        RtfToPlainText(DocumentToRtf(document)).contains(QStringLiteral("[00:01:05] fine")));
}
