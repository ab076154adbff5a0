// The extract shown beside each search result.
#include "catalogue/CatalogueStore.h"
#include "catalogue/SearchSnippet.h"
#include "catalogue/SearchWords.h"

#include <gtest/gtest.h>

using namespace kallomir;

namespace {

// The marks as brackets, so the expected extracts read plainly.
QString Readable(QString snippet) {
    return snippet.replace(QChar(kHitStart), u'[').replace(QChar(kHitEnd), u']');
}

QString Numbered(int from, int to) {
    QStringList words;
    for (int i = from; i <= to; ++i) words << QStringLiteral("w%1").arg(i);
    return words.join(u' ');
}

TEST(SearchSnippet, ChoosesTheWindowAndMarksTheMatches) {
    struct Case {
        const char* what;
        QString text;
        QString query;
        int words;
        QString expected;
    };
    const Case cases[] = {
        {"short text, whole, no ellipsis", "Buongiorno, la richiamo per le chiamate di ieri.",
         "chiamata", 16, "Buongiorno, la richiamo per le [chiamate] di ieri"},
        {"accents and case kept as written", "Nella CITTÀ di Roma", "citta", 16,
         "Nella [CITTÀ] di Roma"},
        {"no match: the first words", Numbered(1, 20), "assente", 4, "w1 w2 w3 w4…"},
        {"a match deep in the text, with words before it",
         Numbered(1, 10) + " fattura " + Numbered(11, 20), "fattura", 4, "…w10 [fattura] w11 w12…"},
        {"a match at the start", "fattura " + Numbered(1, 10), "fattura", 3, "[fattura] w1 w2…"},
        {"a match at the end", Numbered(1, 10) + " fattura", "fattura", 3, "…w9 w10 [fattura]"},
        {"both words beat many of one",
         "cliente cliente cliente " + Numbered(1, 10) + " cliente fattura", "cliente fattura", 4,
         "…w9 w10 [cliente] [fattura]"},
        {"more matches win between equals",
         "fattura " + Numbered(1, 10) + " fattura fattura w11 w12 w13", "fattura", 4,
         "…w10 [fattura] [fattura] w11…"},
        {"every form of the stem", "una chiamata, due chiamate", "chiamare", 16,
         "una [chiamata], due [chiamate]"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(Readable(SearchSnippet(c.text, SearchStems(c.query), c.words)), c.expected)
            << c.what;
}

TEST(SearchSnippet, EmptyTextGivesNothing) {
    EXPECT_EQ(SearchSnippet(QString(), SearchStems("fattura")), QString());
    EXPECT_EQ(SearchSnippet("  ,;  ", SearchStems("fattura")), QString());
}

}  // namespace
