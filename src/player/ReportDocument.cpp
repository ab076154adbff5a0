#include "player/ReportDocument.h"

#include "core/RuntimeError.h"

#include <QFontMetricsF>
#include <QPageLayout>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>

#include <cmath>

namespace kallomir {

namespace {
constexpr int kReportDefinitionError = 31519;  // "report definition not valid"

// Sizes in the page's own units (points), so that text keeps its place on every device:
// a screen image, a PDF and a printer only differ in the scale the painter applies.
QFont ReportFont(int points, bool bold = false) {
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPixelSize(points);
    font.setBold(bold);
    return font;
}
}  // namespace

ReportDocument::ReportDocument(ReportDefinition definition, std::vector<ReportRow> rows,
                               QDateTime printedAt)
    : definition_(std::move(definition)), printedAt_(std::move(printedAt)) {
    SortReportRows(rows, definition_);
    layOut(rows);
}

QSizeF ReportDocument::pageSize() const {
    return definition_.landscape ? QSizeF(842, 595) : QSizeF(595, 842);
}

int ReportDocument::linesPerPage() const {
    const double body =
        pageSize().height() - 2 * kMargin - kTitleHeight - kHeadingHeight - kFooterHeight;
    return std::max(2, static_cast<int>(std::floor(body / kLineHeight)));
}

void ReportDocument::layOut(const std::vector<ReportRow>& rows) {
    rowCount_ = static_cast<int>(rows.size());
    const int perPage = linesPerPage();
    pages_.clear();
    pages_.emplace_back();
    QString currentGroup;
    bool firstRow = true;
    auto room = [&] { return perPage - static_cast<int>(pages_.back().size()); };
    for (const ReportRow& row : rows) {
        Line line;
        for (const ReportColumn& column : definition_.columns) {
            line.cells << ReportCellText(row, column);
        }
        if (!definition_.groupByDate.isEmpty()) {
            const QString group = ReportGroupText(row, definition_.groupByDate);
            if (firstRow || group != currentGroup) {
                currentGroup = group;
                // A heading needs its first row beside it on the same page.
                if (room() < 2)
                    pages_.emplace_back();
                Line heading;
                heading.groupHeading = true;
                heading.group = group.isEmpty() ? QStringLiteral("Senza data") : group;
                pages_.back().push_back(heading);
            }
        }
        firstRow = false;
        if (room() < 1)
            pages_.emplace_back();
        pages_.back().push_back(std::move(line));
    }
}

void ReportDocument::paintPage(QPainter& painter, int index) const {
    const QSizeF size = pageSize();
    painter.save();
    painter.fillRect(QRectF(QPointF(0, 0), size), Qt::white);
    painter.setPen(Qt::black);
    const double left = kMargin;
    const double width = size.width() - 2 * kMargin;
    double y = kMargin;

    painter.setFont(ReportFont(14, true));
    painter.drawText(QRectF(left, y, width, kTitleHeight), Qt::AlignLeft | Qt::AlignVCenter,
                     definition_.title);
    painter.setFont(ReportFont(8));
    painter.drawText(QRectF(left, y, width, kTitleHeight), Qt::AlignRight | Qt::AlignVCenter,
                     printedAt_.toString(QStringLiteral("dd/MM/yyyy hh:mm")));
    y += kTitleHeight;

    int totalWidth = 0;
    for (const ReportColumn& c : definition_.columns) totalWidth += c.width;
    std::vector<double> xs;
    std::vector<double> ws;
    double x = left;
    for (const ReportColumn& c : definition_.columns) {
        const double w = width * c.width / std::max(totalWidth, 1);
        xs.push_back(x);
        ws.push_back(w);
        x += w;
    }
    painter.setFont(ReportFont(8, true));
    for (size_t i = 0; i < definition_.columns.size(); ++i) {
        painter.drawText(QRectF(xs[i] + 2, y, ws[i] - 4, kHeadingHeight),
                         Qt::AlignLeft | Qt::AlignVCenter, definition_.columns[i].heading);
    }
    y += kHeadingHeight;
    painter.drawLine(QPointF(left, y - 2), QPointF(left + width, y - 2));

    const QFont plain = ReportFont(8);
    const QFont bold = ReportFont(8, true);
    const QFontMetricsF metrics(plain, painter.device());
    if (index >= 0 && index < pageCount()) {
        for (const Line& line : page(index)) {
            if (line.groupHeading) {
                painter.setFont(bold);
                painter.drawText(QRectF(left, y, width, kLineHeight),
                                 Qt::AlignLeft | Qt::AlignVCenter, line.group);
            } else {
                painter.setFont(plain);
                // Drawing at a baseline point skips the layout a rectangle with flags costs,
                // which matters over thousands of lines.
                const double baseline =
                    y + (kLineHeight + metrics.ascent() - metrics.descent()) / 2;
                for (qsizetype i = 0;
                     i < line.cells.size() && i < static_cast<qsizetype>(xs.size()); ++i) {
                    const auto col = static_cast<size_t>(i);
                    const QString& cell = line.cells[i];
                    if (cell.isEmpty())
                        continue;
                    const double room = ws[col] - 4;
                    const QString text = cell.size() * metrics.maxWidth() <= room
                                             ? cell
                                             : metrics.elidedText(cell, Qt::ElideRight, room);
                    painter.drawText(QPointF(xs[col] + 2, baseline), text);
                }
            }
            y += kLineHeight;
        }
    }
    painter.setFont(ReportFont(8));
    const QRectF footer(left, size.height() - kMargin - kFooterHeight, width, kFooterHeight);
    const QString pageText = QStringLiteral("Pagina %1 di %2").arg(index + 1).arg(pageCount());
    painter.drawText(footer, Qt::AlignRight | Qt::AlignVCenter, pageText);
    if (!note_.isEmpty()) {
        const QFontMetricsF footerMetrics(painter.font(), painter.device());
        const double room = width - footerMetrics.horizontalAdvance(pageText) - 12;
        painter.drawText(footer, Qt::AlignLeft | Qt::AlignVCenter,
                         footerMetrics.elidedText(note_, Qt::ElideRight, room));
    }
    painter.restore();
}

QImage ReportDocument::renderPage(int index, double scale) const {
    const QSizeF size = pageSize() * scale;
    QImage image(size.toSize(), QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::TextAntialiasing);
    painter.scale(scale, scale);
    paintPage(painter, index);
    return image;
}

void ReportDocument::paintAll(QPainter& painter, const std::function<bool()>& newPage,
                              double pointsToDevice) const {
    for (int i = 0; i < pageCount(); ++i) {
        if (i > 0 && !newPage())
            return;
        painter.save();
        painter.scale(pointsToDevice, pointsToDevice);
        paintPage(painter, i);
        painter.restore();
    }
}

bool ReportDocument::exportPdf(const QString& path, QString* error) const {
    QPdfWriter writer(path);
    writer.setTitle(definition_.title);
    writer.setCreator(QStringLiteral("Kallomir"));
    writer.setPageLayout(
        QPageLayout(QPageSize(QPageSize::A4),
                    definition_.landscape ? QPageLayout::Landscape : QPageLayout::Portrait,
                    QMarginsF(0, 0, 0, 0)));
    writer.setResolution(72);
    QPainter painter;
    if (!painter.begin(&writer)) {
        if (error)
            *error = QStringLiteral("impossibile scrivere %1").arg(path);
        return false;
    }
    paintAll(
        painter, [&] { return writer.newPage(); }, 1.0);
    return painter.end();
}

ReportDocument BuildReport(const QString& programFolder, const ReportRowSource& source,
                           const QDateTime& printedAt) {
    ReportParseResult parsed = LoadReportDefinition(programFolder);
    if (!parsed.definition)
        throw RuntimeError(kReportDefinitionError, parsed.error);
    return ReportDocument(*parsed.definition, source.rows(), printedAt);
}

}  // namespace kallomir
