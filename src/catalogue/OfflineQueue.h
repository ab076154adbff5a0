#pragma once

#include "catalogue/CatalogueStore.h"

#include <QDateTime>
#include <QString>

#include <vector>

namespace kallomir {

// Recorder rows waiting for the catalogue server, kept in table dati_in_attesa of the
// workstation's own embedded file (datirec.mdb), oldest first. Each entry is committed to
// the file before the recording counts as catalogued, so a crash or a power cut loses none.
class OfflineQueue {
public:
    struct Entry {
        qint64 id = 0;  // order of arrival
        QString nome;
        QString etichetta;  // the label when the recording was saved
        QDateTime queuedAt;
        QString numero{};  // the caller's number the line reported
        std::optional<CatalogueFingerprint> fingerprint;  // the recording's, once known
    };

    // folder: the program folder, whose datirec.mdb holds the queue.
    explicit OfflineQueue(QString folder) : folder_(std::move(folder)) {}

    // Adds a row at the end; a name already waiting is not added twice.
    void add(const QString& nome, const QString& etichetta, const QDateTime& at,
             const QString& numero = QString());
    std::vector<Entry> entries() const;
    int count() const;
    void remove(qint64 id);
    // Keeps the fingerprint with the waiting row of the name; false when none waits.
    bool setFingerprint(const QString& nome, const CatalogueFingerprint& fingerprint);

    QString file() const;

private:
    QString folder_;
};

}  // namespace kallomir
