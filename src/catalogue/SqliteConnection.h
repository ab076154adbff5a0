#pragma once

#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QString>

namespace kallomir {

class RuntimeError;

// The catalogue's error for a failure of the embedded file: 3343 not a catalogue, 3218
// locked, 3146 anything else.
RuntimeError SqliteError(const QSqlError& error, const QString& file);

// One connection to an embedded catalogue file for one operation: opened here, rolled back
// if a transaction is still open, closed and unregistered on destruction. Table dati is
// created, and given the columns it lacks, on opening.
class SqliteConnection {
public:
    enum class Open { Existing, MayCreate };
    SqliteConnection(const QString& file, Open mode);
    ~SqliteConnection();
    SqliteConnection(const SqliteConnection&) = delete;
    SqliteConnection& operator=(const SqliteConnection&) = delete;

    QSqlDatabase db() const { return QSqlDatabase::database(name_, false); }
    const QString& file() const { return file_; }

    QSqlQuery prepare(const QString& sql) const;
    void run(QSqlQuery& query) const;
    void exec(const QString& sql) const;
    // An immediate transaction takes the write lock up front, so a locked file fails here.
    void begin();
    void commit();

private:
    void ensureTable() const;

    QString file_;
    QString name_;
    bool inTransaction_ = false;
};

}  // namespace kallomir
