// Reading the results back: the list of runs with its filters, one run in full, CSV export.
#pragma once

#include "ResultsDb.h"

#include <QDate>
#include <QIODevice>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QString>
#include <QVariantList>

#include <vector>

// How the runs whose serial numbers hold the filter's text are found.
enum class SerialLookup {
    Scan,     // every run's serial numbers, newest first: soon done when many runs match
    Index,    // the few runs the index of serial-number pieces names, then put in order
    Nothing,  // the index holds no piece with the text: no run matches
};

// Every member has its default, so that a filter may name only what it sets.
struct RunFilter {
    QString serial{};  // part of the serial number read or written; empty: any
    QDate from{};      // first day, local time; null: no limit
    QDate to{};        // last day, included; null: no limit
    QString result{};  // "finished", "failed", ...; empty: any
    QString bench{};   // the bench's host name, whole; empty: any

    // Chosen by PlanRunFilter for one database. Whichever it is, a run is listed only when its
    // serial numbers hold the text: the index only narrows down where to look.
    SerialLookup serialLookup = SerialLookup::Scan;
    QString serialMatch{};  // a file's index query, for Index
};

// The filter with its serial lookup chosen for `db`, by how many runs the index names for its
// text. Anything the index cannot answer (an index that cannot be read, a server without one,
// letters other than A to Z, which the indexes fold by rules of their own) leaves the plain scan,
// which is slower but never wrong.
RunFilter PlanRunFilter(const QSqlDatabase& db, RunFilter filter);

// The WHERE clause of TestResult that `filter` selects (empty when it selects every run); the
// values to bind, in order, go to `binds`.
QString RunFilterSql(const RunFilter& filter, QVariantList* binds);

// Where a page of the list ended: its last run. The next page starts after it.
struct RunKey {
    qint64 startedMs = 0;
    qint64 id = 0;
};

// Puts the query's error in `error` (when given) and returns false, for `return QueryFault(q, error);`.
bool QueryFault(const QSqlQuery& q, QString* error);
// Prepares `sql`, binds `binds` in order and runs it; false with the driver's error.
bool RunQuery(QSqlQuery& q, const QString& sql, const QVariantList& binds, QString* error);

// The results a run can have, as stored.
const QStringList& RunResults();

// The list of runs, newest first: id, date ("yyyy-MM-dd HH:mm:ss" local), serial (written, else
// read), model, operator, result, duration_s (null while a run has no end), kind, started_ms. The
// values to bind, in order, go to `binds`. With `after`, only the runs listed after that one; with
// `limit` > 0, no more than that many.
QString RunListSql(const RunFilter& filter, QVariantList* binds, const RunKey* after = nullptr, int limit = 0);

struct RunSummary {
    qint64 id = 0;
    QString date;
    QString serial;
    QString model;
    QString operatorName;
    QString result;
    double durationS = -1;  // -1: no end recorded
    QString kind;
    qint64 startedMs = 0;
};

struct ReadingRow {
    int point = 0;
    QString quantity;
    QString nominal;
    QString typed;
    qint64 valueSent = 0;
    QString source;  // "typed" or "meter"
    bool unusual = false;  // far from the model's recent runs at this point
    // How the reading was taken: readings the meter gave (0: not recorded), their standard
    // deviation and the step of the last digit (0: not recorded), in V or A.
    int reads = 0;
    double deviation = 0.0;
    double resolution = 0.0;
};

struct StepRow {
    int step = 0;
    QString state;
    int sends = 0;
    QString at;
};

struct RunDetails {
    qint64 id = 0;
    QString kind, startedAt, endedAt, result;
    QString serialRead, serialWritten, model;
    int address = 0;
    QString port;
    int baud = 0;
    QString testCode, dateWritten, operatorName, temperature, humidity, bench, programVersion;
    qint64 counterBefore = 0, counterAfter = 0;
    bool hasCounterAfter = false;
    QString eventLog;
    MeterOfRun meter;  // empty when every reading was typed
    // The meter at hand as [Meter] described it at the run's start; empty where it did not.
    QString meterAssetId, meterCalibrationDue;
    // How far a reading could lie from its level, in percent; 0: no check; -1: not recorded.
    double plausibilityPct = -1;
    // Given when the calibration finished; empty for any other run and for runs recorded before.
    QString certificateNo;
    // The meter's datasheet accuracy as the bench entered it; empty: none was.
    QString meterAccuracy;
    std::vector<ReadingRow> readings;  // by point
    std::vector<StepRow> steps;        // by step
};

// One row of RunListSql.
RunSummary RunSummaryOf(const QSqlQuery& q);
bool ListRuns(const QSqlDatabase& db, const RunFilter& filter, std::vector<RunSummary>* runs, QString* error);
// False with an error when there is no run `id`.
bool LoadRun(const QSqlDatabase& db, qint64 id, RunDetails* run, QString* error);

// The columns written as CSV, in this order: the run's, then its meter's (the event log is left
// out), then for each point p1..p7 its reading as taken, the value written, its source and its
// unusual mark (empty where the run has no reading there), then the certificate number, the meter's
// asset number and calibration due date and the plausibility band in percent (0: the check was
// off; empty: not recorded).
const QStringList& CsvColumns();
// RFC 4180: a field with a comma, a double quote or a line break is quoted, quotes doubled. A field
// that is not a number and begins with =, +, -, @, a tab or a CR gets a leading ' inside quotes.
QString CsvField(const QString& text);
// Whether a CSV file begins with UTF-8's byte-order mark, which spreadsheets need to read it as
// UTF-8 and which scripts reading the first column may not expect.
enum class ByteOrderMark { Without, With };
// The runs the filter selects, newest first, as UTF-8 CSV with a header row and CRLF line ends.
// The rows are written as they are read, so that a record of any length takes no more memory;
// `runs`, when given, is told how many were written.
bool ExportCsv(const QSqlDatabase& db, const RunFilter& filter, QIODevice& out, QString* error, qint64* runs = nullptr,
               ByteOrderMark mark = ByteOrderMark::Without);
