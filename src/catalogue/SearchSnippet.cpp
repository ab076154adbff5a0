#include "catalogue/SearchSnippet.h"

#include "catalogue/CatalogueStore.h"
#include "catalogue/SearchWords.h"

#include <algorithm>
#include <string>
#include <vector>

namespace kallomir {

namespace {

struct Word {
    int begin = 0;
    int end = 0;
    int stem = -1;  // which of the query's stems, or -1
};

}  // namespace

QString SearchSnippet(const QString& text, const QStringList& stems, int words) {
    const QByteArray utf8 = text.toUtf8();
    std::vector<std::string> wanted;
    for (const QString& stem : stems) wanted.push_back(stem.toStdString());
    std::vector<Word> all;
    ForEachSearchWord(
        std::string_view(utf8.constData(), std::size_t(utf8.size())),
        [&](std::string_view stem, int begin, int end) {
            const auto at = std::find(wanted.begin(), wanted.end(), stem);
            all.push_back({begin, end, at == wanted.end() ? -1 : int(at - wanted.begin())});
        });
    if (all.empty() || words <= 0)
        return {};

    // Each window that starts a few words before a match is a candidate.
    const int count = int(all.size());
    const int size = std::min(words, count);
    int best = 0;
    std::pair<int, int> bestScore{-1, -1};
    for (int i = 0; i < count; ++i) {
        if (all[std::size_t(i)].stem < 0)
            continue;
        const int start = std::clamp(i - size / 4, 0, count - size);
        std::vector<bool> seen(wanted.size());
        int hits = 0;
        for (int k = start; k < start + size; ++k)
            if (const int s = all[std::size_t(k)].stem; s >= 0) {
                seen[std::size_t(s)] = true;
                ++hits;
            }
        const std::pair<int, int> score{int(std::count(seen.begin(), seen.end(), true)), hits};
        if (score > bestScore) {
            bestScore = score;
            best = start;
        }
    }

    QByteArray out;
    if (best > 0)
        out += "…";
    int at = all[std::size_t(best)].begin;
    for (int k = best; k < best + size; ++k) {
        const Word& w = all[std::size_t(k)];
        out.append(utf8.constData() + at, w.begin - at);
        if (w.stem >= 0) {
            out += char(kHitStart);
            out.append(utf8.constData() + w.begin, w.end - w.begin);
            out += char(kHitEnd);
        } else {
            out.append(utf8.constData() + w.begin, w.end - w.begin);
        }
        at = w.end;
    }
    if (best + size < count)
        out += "…";
    return QString::fromUtf8(out);
}

}  // namespace kallomir
