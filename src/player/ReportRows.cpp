#include "player/ReportRows.h"

#include "core/RuntimeError.h"
#include "player/RtfReader.h"

#include <QAtomicInt>
#include <QDate>
#include <QFile>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>

#include <algorithm>
#include <limits>

namespace kallomir {

namespace {

QDate DateOf(const QVariant& value) {
    if (value.isNull())
        return {};
    if (value.typeId() == QMetaType::QDate)
        return value.toDate();
    if (value.typeId() == QMetaType::QDateTime)
        return value.toDateTime().date();
    const QString text = value.toString().trimmed();
    // Dates travel as ISO text; an older catalogue may hold dd/MM/yyyy.
    QDate date = QDate::fromString(text.left(10), Qt::ISODate);
    if (!date.isValid())
        date = QDate::fromString(text.left(10), QStringLiteral("dd/MM/yyyy"));
    return date;
}

bool Truthy(const QVariant& value) {
    if (value.isNull())
        return false;
    const QString text = value.toString().trimmed().toLower();
    return text == u"1" || text == u"true" || text == u"-1" || text == u"vero";
}

int Compare(const QVariant& a, const QVariant& b, const QString& field) {
    if (a.isNull() || b.isNull())
        return a.isNull() == b.isNull() ? 0 : (a.isNull() ? -1 : 1);
    if (field == u"dtfile") {
        const QDate da = DateOf(a), db = DateOf(b);
        return da < db ? -1 : (db < da ? 1 : 0);
    }
    if (field == u"progressivo") {
        const qlonglong ia = a.toLongLong(), ib = b.toLongLong();
        return ia < ib ? -1 : (ib < ia ? 1 : 0);
    }
    if (field == u"letto" || field == u"scritto" || field == u"tradotto") {
        return int(Truthy(a)) - int(Truthy(b));
    }
    return QString::compare(a.toString(), b.toString(), Qt::CaseInsensitive);
}

}  // namespace

std::vector<ReportRow> SqlReportRowSource::rows() const {
    static QAtomicInt counter;
    const QString connection =
        QStringLiteral("kallomir-report-%1").arg(counter.fetchAndAddRelaxed(1));
    std::vector<ReportRow> out;
    QString failure;
    if (!QFile::exists(file_)) {
        throw RuntimeError(3024, QStringLiteral("Impossibile trovare il file '%1'").arg(file_));
    }
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), connection);
        db.setDatabaseName(file_);
        db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY"));
        if (!db.open()) {
            failure = db.lastError().text();
        } else {
            QSqlQuery query(db);
            query.setForwardOnly(true);
            if (!query.exec(QStringLiteral("SELECT * FROM dati"))) {
                failure = query.lastError().text();
            } else {
                const QSqlRecord record = query.record();
                QStringList names;
                for (int i = 0; i < record.count(); ++i) names << record.fieldName(i).toLower();
                while (query.next()) {
                    ReportRow row;
                    for (int i = 0; i < names.size(); ++i) row.insert(names[i], query.value(i));
                    out.push_back(std::move(row));
                }
            }
            db.close();
        }
    }
    QSqlDatabase::removeDatabase(connection);
    if (!failure.isEmpty())
        throw RuntimeError(errors::kDatabase, failure);
    return out;
}

void SortReportRows(std::vector<ReportRow>& rows, const ReportDefinition& definition) {
    if (definition.sort.empty())
        return;
    std::stable_sort(rows.begin(), rows.end(), [&](const ReportRow& a, const ReportRow& b) {
        for (const ReportSortKey& key : definition.sort) {
            const int c = Compare(a.value(key.field), b.value(key.field), key.field);
            if (c != 0)
                return key.descending ? c > 0 : c < 0;
        }
        return false;
    });
}

QString ReportCellText(const ReportRow& row, const ReportColumn& column) {
    const QVariant value = row.value(column.field);
    switch (column.format) {
        case ReportColumn::Format::Date: {
            const QDate date = DateOf(value);
            return date.isValid() ? date.toString(QStringLiteral("dd/MM/yyyy")) : QString();
        }
        case ReportColumn::Format::Number:
            return value.isNull() ? QString() : QString::number(value.toLongLong());
        case ReportColumn::Format::Mark:
            return Truthy(value) ? QStringLiteral("Sì") : QString();
        case ReportColumn::Format::Transcript: {
            if (value.isNull())
                return {};
            const QString plain = RtfToPlainText(value.toString().toUtf8()).simplified();
            return plain.size() > column.transcriptLength
                       ? plain.left(column.transcriptLength) + QStringLiteral("…")
                       : plain;
        }
        case ReportColumn::Format::Text:
            break;
    }
    return value.isNull() ? QString() : value.toString();
}

QString ReportGroupText(const ReportRow& row, const QString& field) {
    const QDate date = DateOf(row.value(field));
    return date.isValid() ? date.toString(QStringLiteral("dd/MM/yyyy")) : QString();
}

std::vector<ReportRow> SearchReportRowSource::rows() const {
    SearchQuery query = query_;
    query.limit = std::numeric_limits<int>::max() - 1;
    std::vector<ReportRow> rows;
    for (const SearchHit& hit : catalogue_.search(query).hits) {
        const CatalogueRow& r = hit.row;
        ReportRow row;
        row.insert(QStringLiteral("nome"), r.nome);
        row.insert(QStringLiteral("etichetta"), r.etichetta);
        row.insert(QStringLiteral("dtfile"),
                   r.dtfile ? QVariant(r.dtfile->toString(Qt::ISODate)) : QVariant());
        row.insert(QStringLiteral("ora"), r.ora);
        row.insert(QStringLiteral("progressivo"),
                   r.progressivo ? QVariant(*r.progressivo) : QVariant());
        row.insert(QStringLiteral("letto"), r.letto);
        row.insert(QStringLiteral("scritto"), r.scritto);
        row.insert(QStringLiteral("tradotto"), r.tradotto);
        row.insert(QStringLiteral("traduzione"),
                   r.traduzione ? QVariant(*r.traduzione) : QVariant());
        row.insert(QStringLiteral("user"), r.user);
        row.insert(QStringLiteral("numero"), r.numero);
        rows.push_back(std::move(row));
    }
    return rows;
}

}  // namespace kallomir
