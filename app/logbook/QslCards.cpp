#include "QslCards.h"

#include "Database.h"
#include "LogDatabase.h"
#include "Recordset.h"

#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <cmath>

QslWording QslWordingFor(const QString& code) {
    QslWording w;
    w.label4 = code == QLatin1String("T") ? QStringLiteral("TNX QSL") : QStringLiteral("PSE QSL");
    if (code == QLatin1String("B")) {
        w.label1 = QStringLiteral("Confirming heard Beacon:");
        w.label3 = QStringLiteral("Best 73 de");
    } else {
        w.label1 = QStringLiteral("Confirming 2-way QSO with:");
        w.label3 = QStringLiteral("tnx fer QSO Best 73 de");
    }
    return w;
}

QString QslNextCode(const QString& code) {
    if (code == QLatin1String("Y") || code == QLatin1String("B"))
        return QStringLiteral("N");
    if (code == QLatin1String("S"))
        return QStringLiteral("D");
    if (code == QLatin1String("T"))
        return QStringLiteral("Q");
    return code;
}

QString QslTimeText(const QVariant& stored) {
    const QString shown = ShownTime(stored);
    return shown.isEmpty() ? shown : QStringLiteral("  ") + shown + QStringLiteral(" ");
}

QString QslFrequencyText(const QVariant& band, const QLocale& locale) {
    const QString text = DbValueText(band).trimmed();
    bool ok = false;
    const double khz = locale.toDouble(text, &ok);
    const double value = ok ? khz : text.toDouble(&ok);
    if (!ok || !std::isfinite(value) || std::fabs(value) >= 9.2e18)
        return text.isEmpty() ? text : QStringLiteral("    ") + text;
    QLocale grouped = locale;
    grouped.setNumberOptions(grouped.numberOptions() & ~QLocale::OmitGroupSeparator);
    return QStringLiteral("    ") + grouped.toString(qint64(std::llround(value)));
}

namespace {

QString fieldText(const QSqlRecord& record, const char* name) {
    const int index = record.indexOf(QLatin1String(name));
    return index < 0 ? QString() : DbValueText(record.value(index));
}

QVariant fieldValue(const QSqlRecord& record, const char* name) {
    const int index = record.indexOf(QLatin1String(name));
    return index < 0 ? QVariant() : record.value(index);
}

} // namespace

QslRun ReadQslRun(const QString& connectionText, const QString& code, const QLocale& locale) {
    QslRun run;
    DbConnection db;
    if (!db.open(connectionText)) {
        run.error = db.lastError();
        return run;
    }
    QSqlQuery query(db.handle()->database());
    query.setForwardOnly(true);
    // The codes come from the window's buttons only; the statement binds it all the same.
    if (!query.prepare(
            QStringLiteral("select rowid, *  from logtab where  QSL like ? order by callsign"))) {
        run.error = query.lastError().text();
        return run;
    }
    query.addBindValue(code);
    if (!query.exec()) {
        run.error = query.lastError().text();
        return run;
    }
    const QString next = QslNextCode(code.toUpper());
    std::vector<QslEntry> entries;
    while (query.next()) {
        const QSqlRecord r = query.record();
        QslEntry e;
        e.rowid = r.value(0).toLongLong();
        e.code = fieldText(r, "QSL");
        e.next = next;
        e.date = ShownDate(fieldValue(r, "Date"));
        e.time = QslTimeText(fieldValue(r, "GMT"));
        e.callsign = fieldText(r, "Callsign");
        e.mode = fieldText(r, "mode");
        e.report = fieldText(r, "rsts");
        e.frequency = QslFrequencyText(fieldValue(r, "Band"), locale);
        e.qrb = fieldText(r, "QRB");
        e.qtf = fieldText(r, "QTF");
        // Logs from the outside logger name the manager QSLman; logs this program made, QSLvia.
        e.qslManager = r.indexOf(QLatin1String("QSLman")) >= 0 ? fieldText(r, "QSLman")
                                                               : fieldText(r, "QSLvia");
        entries.push_back(std::move(e));
    }
    if (query.lastError().isValid()) {
        run.error = query.lastError().text();
        return run;
    }
    // A run ends with a whole station, so no station's QSOs are split over two runs unless one
    // station alone has more than the run holds.
    size_t take = entries.size();
    if (take > size_t(QslRunLimit)) {
        take = size_t(QslRunLimit);
        size_t cut = take;
        while (cut > 0 && entries[cut - 1].callsign == entries[cut].callsign)
            --cut;
        if (cut > 0)
            take = cut;
    }
    run.leftOver = int(entries.size() - take);
    entries.resize(take);
    run.entries = std::move(entries);
    run.ok = true;
    return run;
}

std::vector<QslCard> GroupQslCards(const std::vector<QslEntry>& entries) {
    std::vector<QslCard> cards;
    QslCard card;
    for (size_t i = 0; i < entries.size(); ++i) {
        const QslEntry& e = entries[i];
        card.rows.push_back(e);
        const bool last = i + 1 == entries.size();
        const bool sameNext = !last && entries[i + 1].callsign == e.callsign;
        if (last || !sameNext || int(card.rows.size()) >= QslRowsPerCard) {
            card.callsign = e.callsign;
            card.qslManager = e.qslManager;
            cards.push_back(std::move(card));
            card = QslCard();
        }
    }
    return cards;
}

int AdvanceQslCodes(const QString& connectionText, const std::vector<QslEntry>& printed,
                    QString* error) {
    auto fail = [error](const QString& text) {
        if (error)
            *error = text;
        return -1;
    };
    DbConnection db;
    if (!db.open(connectionText))
        return fail(db.lastError());
    if (!db.beginTransaction())
        return fail(db.lastError());
    QSqlQuery query(db.handle()->database());
    if (!query.prepare(QStringLiteral("update logtab set QSL = ? where rowid = ? and QSL is ?"))) {
        const QString text = query.lastError().text();
        db.rollback();
        return fail(text);
    }
    int changed = 0;
    for (const QslEntry& e : printed) {
        if (e.next == e.code)
            continue;
        query.addBindValue(e.next);
        query.addBindValue(e.rowid);
        query.addBindValue(e.code);
        if (!query.exec()) {
            const QString text = query.lastError().text();
            db.rollback();
            return fail(text);
        }
        changed += query.numRowsAffected();
    }
    if (!db.commit())
        return fail(db.lastError());
    return changed;
}
