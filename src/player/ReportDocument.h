#pragma once

#include "player/ReportDefinition.h"
#include "player/ReportRows.h"

#include <QDateTime>
#include <QImage>
#include <QSizeF>
#include <QStringList>

#include <functional>
#include <vector>

class QPainter;

namespace kallomir {

// A report laid out on A4 pages: title, column headings and page number on every page,
// group headings where the group date changes (never left alone at a page's foot), one
// line per catalogue row. Coordinates are points (1/72 inch).
class ReportDocument {
public:
    struct Line {
        bool groupHeading = false;
        QString group;
        QStringList cells;
    };
    using Page = std::vector<Line>;

    ReportDocument(ReportDefinition definition, std::vector<ReportRow> rows, QDateTime printedAt);

    const ReportDefinition& definition() const { return definition_; }
    QSizeF pageSize() const;
    int linesPerPage() const;
    int pageCount() const { return static_cast<int>(pages_.size()); }
    int rowCount() const { return rowCount_; }
    const Page& page(int index) const { return pages_.at(static_cast<size_t>(index)); }
    // Printed at the foot of every page, left of the page number: what the report holds.
    void setNote(QString note) { note_ = std::move(note); }
    const QString& note() const { return note_; }

    // Draws one page with the painter's unit as one point.
    void paintPage(QPainter& painter, int index) const;
    QImage renderPage(int index, double scale) const;
    bool exportPdf(const QString& path, QString* error) const;
    // Draws every page on a paged device (a printer or a PDF writer) set up by the caller.
    void paintAll(QPainter& painter, const std::function<bool()>& newPage,
                  double pointsToDevice) const;

    static constexpr double kMargin = 36;
    static constexpr double kTitleHeight = 26;
    static constexpr double kHeadingHeight = 18;
    static constexpr double kFooterHeight = 16;
    static constexpr double kLineHeight = 13;

private:
    void layOut(const std::vector<ReportRow>& rows);

    ReportDefinition definition_;
    QDateTime printedAt_;
    std::vector<Page> pages_;
    int rowCount_ = 0;
    QString note_;
};

// Loads the definition from the program folder and the rows from the catalogue and lays
// the report out. Throws RuntimeError with a clear description on a broken definition or an
// unreadable catalogue.
ReportDocument BuildReport(const QString& programFolder, const ReportRowSource& source,
                           const QDateTime& printedAt);

}  // namespace kallomir
