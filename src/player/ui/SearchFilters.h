#pragma once

#include "catalogue/CatalogueStore.h"

#include <QWidget>

class QCheckBox;
class QComboBox;
class QDateEdit;
class QLineEdit;

namespace kallomir {

class MessageBoxService;

// The fields that choose recordings: words of the transcription, caller's number, date range
// Dal/Al, label and the three marks. Shared by the search window and the logbook, so both
// filter alike.
class SearchFilters : public QWidget {
    Q_OBJECT
public:
    explicit SearchFilters(QWidget* parent = nullptr);

    // The filters as the operator set them.
    SearchQuery query() const;
    void setQuery(const SearchQuery& query);
    void clear();

    // Controls, by their names, for the windows' tests.
    QLineEdit* txtParole = nullptr;
    QLineEdit* txtNumero = nullptr;
    QCheckBox* chkDal = nullptr;
    QDateEdit* dtDal = nullptr;
    QCheckBox* chkAl = nullptr;
    QDateEdit* dtAl = nullptr;
    QLineEdit* txtEtichetta = nullptr;
    QComboBox* cboMarks[3] = {nullptr, nullptr, nullptr};  // Ascoltato, Trascritto, Masterizzato

signals:
    // Enter pressed in one of the text fields.
    void submitted();
};

// True when the query filters nothing (every recording).
bool IsUnfiltered(const SearchQuery& query);

// What the query holds, as the operator reads it ("Filtro: parole «fattura», dal
// 01/02/2024"); "Tutte le registrazioni" when it filters nothing.
QString DescribeSearchQuery(const SearchQuery& query);

// Refuses a range whose start is after its end, telling the operator; true when refused.
bool RefuseInvalidRange(MessageBoxService& boxes, const SearchQuery& query, const QString& title);

}  // namespace kallomir
