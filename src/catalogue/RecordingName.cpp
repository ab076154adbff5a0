#include "catalogue/RecordingName.h"

#include <QDir>
#include <QFileInfo>

namespace kallomir {

namespace {
// Recording files are matched without regard to case, as the catalogue does.
bool RecordingExists(const QDir& folder, const QString& name) {
    const QString wanted = name + kRecordingExtension;
    if (QFileInfo::exists(folder.filePath(wanted)))
        return true;
    const QStringList similar = folder.entryList(QStringList{name + QStringLiteral(".*")},
                                                 QDir::Files | QDir::CaseSensitive);
    for (const QString& file : similar)
        if (file.compare(wanted, Qt::CaseInsensitive) == 0)
            return true;
    return false;
}
}  // namespace

QString MakeRecordingName(const QDateTime& moment) {
    return moment.toString(QStringLiteral("yyyyMMdd_HHmmss"));
}

QString DistinctRecordingName(const QString& folder, const QDateTime& moment) {
    const QDir dir(folder);
    const QString base = MakeRecordingName(moment);
    QString name = base;
    for (int n = 2; RecordingExists(dir, name); ++n) name = base + u'_' + QString::number(n);
    return name;
}

}  // namespace kallomir
