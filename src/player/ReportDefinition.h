#pragma once

#include <QString>
#include <QStringList>

#include <optional>
#include <vector>

namespace kallomir {

// A report of the recordings catalogue as the operator's report.rpt defines it (the text
// format is described in docs/report-format.md).
struct ReportColumn {
    enum class Format { Text, Date, Number, Mark, Transcript };
    QString heading;
    QString field;   // a field of table dati, lower case
    int width = 10;  // relative width, in characters
    Format format = Format::Text;
    int transcriptLength = 80;  // Transcript: characters of the text's start shown
};

struct ReportSortKey {
    QString field;  // lower case
    bool descending = false;
};

struct ReportDefinition {
    QString title;
    bool landscape = false;
    std::vector<ReportColumn> columns;
    std::vector<ReportSortKey> sort;
    QString groupByDate;  // a date field whose changes start a new group; empty: no groups
};

// The fields of table dati a report may name, lower case.
const QStringList& CatalogueFields();

struct ReportParseResult {
    std::optional<ReportDefinition> definition;
    QString error;  // "riga N: ..." when the definition is broken
};

ReportParseResult ParseReportDefinition(const QString& text);

// The logbook written as report.rpt when the file is missing.
QString DefaultReportDefinitionText();

inline const QString kReportFileName = QStringLiteral("report.rpt");

// Reads programFolder/report.rpt, writing the default logbook first when the file is
// missing. A file that cannot be read or written, or a broken definition, gives the error.
ReportParseResult LoadReportDefinition(const QString& programFolder);

}  // namespace kallomir
