#pragma once

// QSL cards from the log: which QSOs a selection code picks, how their fields read on a card,
// how they are grouped (up to four QSOs of one station per card) and the state each QSO's QSL
// code moves on to once its card has been printed.
//
// The codes are advanced only after the cards have been printed: a print job that fails or is
// cancelled leaves every code as it was, so the cards come out again at the next run.

#include <QLocale>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <vector>

// Rows one card holds.
constexpr int QslRowsPerCard = 4;
// QSOs one printing run reads; the rest keep their code for the next run.
constexpr int QslRunLimit = 1000;

// The card's wording for a selection code.
struct QslWording {
    QString label4; // "PSE QSL" / "TNX QSL"
    QString label1; // "Confirming 2-way QSO with:" / "Confirming heard Beacon:"
    QString label3; // "tnx fer QSO Best 73 de" / "Best 73 de"
};
QslWording QslWordingFor(const QString& code);

// The code a printed QSO gets: Y→N, S→D, T→Q, B→N; any other code stays.
QString QslNextCode(const QString& code);

// One QSO as the card shows it.
struct QslEntry {
    qint64 rowid = 0;
    QString code; // the QSL code it was read with
    QString next; // the code it gets once printed: by the selection, as "y" matches "Y" too
    QString date; // " dd.MM.yyyy"
    QString time; // "  HH:mm "
    QString callsign;
    QString mode;
    QString report;
    QString frequency; // "    " + the kHz grouped in threes
    QString qrb;
    QString qtf;
    QString qslManager;
};

// The stored values in the card's forms (the date as the logbook shows it). The frequency groups
// the kHz digits with the locale's thousands separator; a value that is not a number is shown as it
// stands.
QString QslTimeText(const QVariant& stored);
QString QslFrequencyText(const QVariant& band, const QLocale& locale);

struct QslRun {
    bool ok = false;
    QString error;
    std::vector<QslEntry> entries; // at most QslRunLimit, whole stations only
    int leftOver = 0;              // QSOs of the code not taken into this run
};

// Reads the QSOs whose QSL code matches `code` (LIKE, so case-insensitive) in callsign order;
// each is to get the code that follows `code`.
QslRun ReadQslRun(const QString& connectionText, const QString& code, const QLocale& locale);

// One card: the station and its rows.
struct QslCard {
    QString callsign;
    QString qslManager;
    std::vector<QslEntry> rows;
};

// Walks the entries in order: a card takes the next QSOs of the same callsign until it holds
// QslRowsPerCard; the station's further QSOs start a new card.
std::vector<QslCard> GroupQslCards(const std::vector<QslEntry>& entries);

// Moves every printed QSO's code on to its next state, in one transaction. A row whose code was
// changed meanwhile (the logbook is open too) keeps the newer code. Returns the number of rows
// changed, -1 on failure (nothing changed) with `error` set.
int AdvanceQslCodes(const QString& connectionText, const std::vector<QslEntry>& printed,
                    QString* error);
