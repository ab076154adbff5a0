#include "player/RtfWriter.h"

#include "player/Cp1252.h"

#include <QColor>
#include <QStringList>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextFragment>

#include <cmath>

namespace kallomir {

namespace {

QString FamilyOf(const QTextCharFormat& format, const QTextDocument& document) {
    const QVariant families = format.property(QTextFormat::FontFamilies);
    if (families.isValid()) {
        const QStringList list = families.toStringList();
        if (!list.isEmpty() && !list.front().isEmpty())
            return list.front();
    }
    return document.defaultFont().family();
}

int HalfPointsOf(const QTextCharFormat& format, const QTextDocument& document) {
    double points = format.fontPointSize();
    if (points <= 0)
        points = document.defaultFont().pointSizeF();
    if (points <= 0)
        points = 10;
    return static_cast<int>(std::lround(points * 2));
}

// Font names end at ';' and braces would break the group structure.
QByteArray EscapeFontName(const QString& name) {
    QByteArray out;
    for (QChar ch : name) {
        if (ch == u';' || ch == u'{' || ch == u'}' || ch == u'\\')
            continue;
        const auto byte = UnicodeToCp1252(ch);
        if (!byte) {
            out += '?';
        } else if (*byte >= 0x80) {
            out += "\\'" + QByteArray::number(*byte, 16).rightJustified(2, '0');
        } else {
            out += static_cast<char>(*byte);
        }
    }
    return out;
}

void AppendText(QByteArray& out, const QString& text) {
    for (QChar ch : text) {
        const char16_t u = ch.unicode();
        if (u == u'\\' || u == u'{' || u == u'}') {
            out += '\\';
            out += static_cast<char>(u);
        } else if (u == u'\t') {
            out += "\\tab ";
        } else if (u == QChar::LineSeparator || u == u'\n') {
            out += "\\line ";
        } else if (u == QChar::Nbsp) {
            out += "\\~";
        } else if (u < 0x20) {
            // Other control characters carry nothing a reader could show.
        } else if (u < 0x80) {
            out += static_cast<char>(u);
        } else if (const auto byte = UnicodeToCp1252(ch)) {
            out += "\\'" + QByteArray::number(*byte, 16).rightJustified(2, '0');
        } else {
            // \uN takes a signed 16-bit number; \uc1 declared the one fallback character.
            out += "\\u" + QByteArray::number(static_cast<qint16>(u)) + '?';
        }
    }
}

const char* AlignmentWord(Qt::Alignment alignment) {
    if (alignment & Qt::AlignHCenter)
        return "\\qc";
    if (alignment & Qt::AlignJustify)
        return "\\qj";
    if (alignment & (Qt::AlignRight))
        return "\\qr";
    return "\\ql";
}

}  // namespace

QByteArray DocumentToRtf(const QTextDocument& document) {
    QStringList fonts;
    QList<QColor> colours;  // index 0 of the table is the automatic colour
    auto fontIndex = [&](const QString& family) {
        qsizetype i = fonts.indexOf(family);
        if (i < 0) {
            fonts.append(family);
            i = fonts.size() - 1;
        }
        return i;
    };
    auto colourIndex = [&](const QTextCharFormat& format) -> qsizetype {
        if (format.foreground().style() == Qt::NoBrush)
            return 0;
        const QColor colour = format.foreground().color();
        qsizetype i = colours.indexOf(colour);
        if (i < 0) {
            colours.append(colour);
            i = colours.size() - 1;
        }
        return i + 1;
    };

    fontIndex(document.defaultFont().family());
    QByteArray body;
    bool firstBlock = true;
    for (QTextBlock block = document.begin(); block.isValid(); block = block.next()) {
        if (!firstBlock)
            body += "\\par\n";
        firstBlock = false;
        body += "\\pard";
        body += AlignmentWord(block.blockFormat().alignment());
        body += ' ';
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            const QTextFragment fragment = it.fragment();
            if (!fragment.isValid())
                continue;
            const QTextCharFormat format = fragment.charFormat();
            body += "{\\f" + QByteArray::number(fontIndex(FamilyOf(format, document)));
            body += "\\fs" + QByteArray::number(HalfPointsOf(format, document));
            const qsizetype colour = colourIndex(format);
            if (colour > 0)
                body += "\\cf" + QByteArray::number(colour);
            if (format.fontWeight() > QFont::Normal)
                body += "\\b";
            if (format.fontItalic())
                body += "\\i";
            if (format.fontUnderline())
                body += "\\ul";
            body += ' ';
            AppendText(body, fragment.text());
            body += '}';
        }
    }

    QByteArray out = "{\\rtf1\\ansi\\ansicpg1252\\deff0{\\fonttbl";
    for (qsizetype i = 0; i < fonts.size(); ++i) {
        out += "{\\f" + QByteArray::number(i) + "\\fnil " + EscapeFontName(fonts[i]) + ";}";
    }
    out += "}\n{\\colortbl ;";
    for (const QColor& colour : colours) {
        out += "\\red" + QByteArray::number(colour.red()) + "\\green" +
               QByteArray::number(colour.green()) + "\\blue" + QByteArray::number(colour.blue()) +
               ';';
    }
    out += "}\n\\viewkind4\\uc1\n";
    out += body;
    out += "\n}\n";
    return out;
}

}  // namespace kallomir
