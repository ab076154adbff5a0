#include "player/ReportDefinition.h"

#include <QDir>
#include <QFile>
#include <QSaveFile>

namespace kallomir {

const QStringList& CatalogueFields() {
    static const QStringList fields = {
        QStringLiteral("nome"),    QStringLiteral("etichetta"),   QStringLiteral("dtfile"),
        QStringLiteral("ora"),     QStringLiteral("progressivo"), QStringLiteral("letto"),
        QStringLiteral("scritto"), QStringLiteral("tradotto"),    QStringLiteral("traduzione"),
        QStringLiteral("user"),    QStringLiteral("numero")};
    return fields;
}

namespace {

QString LineError(int line, const QString& text) {
    return QStringLiteral("riga %1: %2").arg(line).arg(text);
}

bool KnownField(const QString& field) {
    return CatalogueFields().contains(field);
}

std::optional<ReportColumn> ParseColumn(const QString& value, int line, QString* error) {
    const QStringList parts = value.split(u'|');
    if (parts.size() < 2 || parts.size() > 4) {
        *error = LineError(line, QStringLiteral("una colonna si scrive «intestazione | campo | "
                                                "larghezza | formato»"));
        return std::nullopt;
    }
    ReportColumn column;
    column.heading = parts[0].trimmed();
    column.field = parts[1].trimmed().toLower();
    if (!KnownField(column.field)) {
        *error = LineError(line, QStringLiteral("campo sconosciuto «%1»").arg(parts[1].trimmed()));
        return std::nullopt;
    }
    if (parts.size() >= 3) {
        bool ok = false;
        column.width = parts[2].trimmed().toInt(&ok);
        if (!ok || column.width < 1 || column.width > 500) {
            *error = LineError(line,
                               QStringLiteral("larghezza non valida «%1»").arg(parts[2].trimmed()));
            return std::nullopt;
        }
    }
    if (parts.size() == 4) {
        const QStringList words = parts[3].simplified().toLower().split(u' ', Qt::SkipEmptyParts);
        const QString format = words.value(0);
        if (format.isEmpty() || format == u"text") {
            column.format = ReportColumn::Format::Text;
        } else if (format == u"date") {
            column.format = ReportColumn::Format::Date;
        } else if (format == u"number") {
            column.format = ReportColumn::Format::Number;
        } else if (format == u"mark") {
            column.format = ReportColumn::Format::Mark;
        } else if (format == u"transcript") {
            column.format = ReportColumn::Format::Transcript;
            if (words.size() > 1) {
                bool ok = false;
                column.transcriptLength = words[1].toInt(&ok);
                if (!ok || column.transcriptLength < 1) {
                    *error =
                        LineError(line, QStringLiteral("lunghezza non valida «%1»").arg(words[1]));
                    return std::nullopt;
                }
            }
        } else {
            *error = LineError(line, QStringLiteral("formato sconosciuto «%1»").arg(format));
            return std::nullopt;
        }
        if (words.size() > (column.format == ReportColumn::Format::Transcript ? 2 : 1)) {
            *error =
                LineError(line, QStringLiteral("formato non valido «%1»").arg(parts[3].trimmed()));
            return std::nullopt;
        }
    }
    return column;
}

}  // namespace

ReportParseResult ParseReportDefinition(const QString& text) {
    ReportParseResult result;
    ReportDefinition def;
    bool haveTitle = false;
    const QStringList lines = text.split(u'\n');
    for (int i = 0; i < lines.size(); ++i) {
        const int number = i + 1;
        const QString line = lines[i].trimmed();
        if (line.isEmpty() || line.startsWith(u'#'))
            continue;
        const qsizetype colon = line.indexOf(u':');
        if (colon <= 0) {
            result.error = LineError(number, QStringLiteral("manca «:» dopo il nome della voce"));
            return result;
        }
        const QString key = line.left(colon).trimmed().toLower();
        const QString value = line.mid(colon + 1).trimmed();
        if (key == u"title") {
            def.title = value;
            haveTitle = true;
        } else if (key == u"orientation") {
            if (value.toLower() == u"landscape") {
                def.landscape = true;
            } else if (value.toLower() == u"portrait") {
                def.landscape = false;
            } else {
                result.error =
                    LineError(number, QStringLiteral("orientamento sconosciuto «%1»").arg(value));
                return result;
            }
        } else if (key == u"column") {
            auto column = ParseColumn(value, number, &result.error);
            if (!column)
                return result;
            def.columns.push_back(*column);
        } else if (key == u"sort") {
            def.sort.clear();
            for (const QString& item : value.split(u',', Qt::SkipEmptyParts)) {
                const QStringList words = item.simplified().toLower().split(u' ');
                ReportSortKey sortKey{words.value(0), false};
                if (!KnownField(sortKey.field) || words.size() > 2 ||
                    (words.size() == 2 && words[1] != u"asc" && words[1] != u"desc")) {
                    result.error = LineError(
                        number, QStringLiteral("ordinamento non valido «%1»").arg(item.trimmed()));
                    return result;
                }
                sortKey.descending = words.size() == 2 && words[1] == u"desc";
                def.sort.push_back(sortKey);
            }
        } else if (key == u"group-by-date") {
            def.groupByDate = value.toLower();
            if (!def.groupByDate.isEmpty() && !KnownField(def.groupByDate)) {
                result.error =
                    LineError(number, QStringLiteral("campo sconosciuto «%1»").arg(value));
                return result;
            }
        } else {
            result.error = LineError(
                number, QStringLiteral("voce sconosciuta «%1»").arg(line.left(colon).trimmed()));
            return result;
        }
    }
    if (!haveTitle) {
        result.error = QStringLiteral("manca la voce «title»");
        return result;
    }
    if (def.columns.empty()) {
        result.error = QStringLiteral("nessuna colonna definita");
        return result;
    }
    result.definition = def;
    return result;
}

QString DefaultReportDefinitionText() {
    return QStringLiteral(
        "# Report definition of the recordings catalogue (see docs/report-format.md).\n"
        "title: Brogliaccio\n"
        "orientation: landscape\n"
        "sort: dtfile, ora, progressivo\n"
        "group-by-date: dtfile\n"
        "column: Data | dtfile | 10 | date\n"
        "column: Ora | ora | 6\n"
        "column: N. | progressivo | 6 | number\n"
        "column: Nome | NOME | 20\n"
        "column: Etichetta | etichetta | 12\n"
        "column: Utente | user | 12\n"
        "column: Ascoltato | LETTO | 9 | mark\n"
        "column: Trascritto | SCRITTO | 9 | mark\n"
        "column: Masterizzato | TRADOTTO | 11 | mark\n"
        "column: Trascrizione | traduzione | 40 | transcript 80\n");
}

ReportParseResult LoadReportDefinition(const QString& programFolder) {
    const QString path = QDir(programFolder).filePath(kReportFileName);
    ReportParseResult result;
    if (!QFile::exists(path)) {
        QSaveFile out(path);
        if (!out.open(QIODevice::WriteOnly) ||
            out.write(DefaultReportDefinitionText().toUtf8()) < 0 || !out.commit()) {
            result.error =
                QStringLiteral("impossibile scrivere %1: %2").arg(path, out.errorString());
            return result;
        }
    }
    QFile in(path);
    if (!in.open(QIODevice::ReadOnly)) {
        result.error = QStringLiteral("impossibile leggere %1: %2").arg(path, in.errorString());
        return result;
    }
    result = ParseReportDefinition(QString::fromUtf8(in.readAll()));
    if (!result.error.isEmpty())
        result.error = kReportFileName + QStringLiteral(", ") + result.error;
    return result;
}

}  // namespace kallomir
