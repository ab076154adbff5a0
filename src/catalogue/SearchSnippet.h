#pragma once

#include <QString>
#include <QStringList>

namespace kallomir {

// The words of a plain text around the words a search matched: at most `words` words, the
// window holding the most different matched stems (then the most matches, then the first),
// each matched word between kHitStart and kHitEnd, "…" where the text goes on. Without a
// match, the text's first words.
QString SearchSnippet(const QString& text, const QStringList& stems, int words = 16);

}  // namespace kallomir
