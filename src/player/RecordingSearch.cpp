#include "player/RecordingSearch.h"

#include "catalogue/SearchWords.h"
#include "player/RtfReader.h"

#include <QDir>
#include <QFileInfo>

namespace kallomir {

QString TranscriptionPlainText(const QString& traduzione) {
    return RtfToPlainText(traduzione.toUtf8());
}

namespace {

bool HoldsFile(const QString& folder, const QString& nome) {
    if (folder.isEmpty())
        return false;
    if (QFileInfo(QDir(folder).filePath(nome)).isFile())
        return true;
    // Names are matched without regard to case, as the catalogue does.
    const QStringList found = QDir(folder).entryList({nome}, QDir::Files);
    return !found.isEmpty();
}

}  // namespace

QString FindRecordingFolder(const QString& nome, const QStringList& firstLooks,
                            const QStringList& roots) {
    for (const QString& folder : firstLooks)
        if (HoldsFile(folder, nome))
            return QDir::cleanPath(folder);
    // DataPath + name + "/" + number: two levels below each root.
    for (const QString& root : roots) {
        if (HoldsFile(root, nome))
            return QDir::cleanPath(root);
        const QDir top(root);
        for (const QString& first : top.entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name)) {
            const QString level1 = top.filePath(first);
            if (HoldsFile(level1, nome))
                return QDir::cleanPath(level1);
            const QDir middle(level1);
            for (const QString& second :
                 middle.entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name)) {
                const QString level2 = middle.filePath(second);
                if (HoldsFile(level2, nome))
                    return QDir::cleanPath(level2);
            }
        }
    }
    return {};
}

std::optional<TextMatch> FirstMatch(const QString& text, const QStringList& stems) {
    if (stems.isEmpty())
        return std::nullopt;
    for (const SearchWord& word : SearchWords(text))
        if (stems.contains(word.stem))
            return TextMatch{word.position, word.length};
    return std::nullopt;
}

QString SnippetHtml(const QString& snippet) {
    QString html = snippet.toHtmlEscaped();
    html.replace(QChar(kHitStart), QStringLiteral("<b style=\"background-color:#ffe680\">"));
    html.replace(QChar(kHitEnd), QStringLiteral("</b>"));
    html.replace(u'\n', u' ');
    return html;
}

QString MarksText(const CatalogueRow& row) {
    QString marks;
    marks += row.letto ? u'A' : u'-';
    marks += row.scritto ? u'T' : u'-';
    marks += row.tradotto ? u'M' : u'-';
    return marks;
}

}  // namespace kallomir
