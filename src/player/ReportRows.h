#pragma once

#include "catalogue/CatalogueStore.h"
#include "player/ReportDefinition.h"

#include <QHash>
#include <QString>
#include <QVariant>

#include <vector>

namespace kallomir {

// One catalogue row by lower-case field name.
using ReportRow = QHash<QString, QVariant>;

// Where a report's rows come from.
class ReportRowSource {
public:
    virtual ~ReportRowSource() = default;
    // Every row of table dati; throws RuntimeError when the catalogue cannot be read.
    virtual std::vector<ReportRow> rows() const = 0;
};

// Reads table dati of a catalogue file (datirec.mdb) through Qt SQL, read-only.
class SqlReportRowSource : public ReportRowSource {
public:
    explicit SqlReportRowSource(QString databaseFile) : file_(std::move(databaseFile)) {}
    std::vector<ReportRow> rows() const override;

private:
    QString file_;
};

// Reads table dati through the program's catalogue (the embedded file or the server).
class CatalogueReportRowSource : public ReportRowSource {
public:
    explicit CatalogueReportRowSource(CatalogueStore& catalogue) : catalogue_(catalogue) {}
    std::vector<ReportRow> rows() const override { return catalogue_.allRows(); }

private:
    CatalogueStore& catalogue_;
};

// Orders the rows by the definition's sort keys (stable: equal rows keep catalogue order).
void SortReportRows(std::vector<ReportRow>& rows, const ReportDefinition& definition);

// The text a cell shows.
QString ReportCellText(const ReportRow& row, const ReportColumn& column);

// The date of a row's group field, as the group heading shows it ("" when missing).
QString ReportGroupText(const ReportRow& row, const QString& field);

}  // namespace kallomir
