// korvex-results: the supervisors' command line over the results database: list, CSV, report,
// stats, control chart.
#include "ConfigFile.h"
#include "ControlChart.h"
#include "ControlChartData.h"
#include "ReportPage.h"
#include "LineSettings.h"
#include "MeterSettings.h"
#include "ResultsDb.h"
#include "TerminalText.h"
#include "WholeFile.h"
#include "ResultsQuery.h"
#include "ResultsStats.h"
#include "Version.h"

#include <QApplication>
#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QFile>
#include <QGuiApplication>
#include <QRegularExpression>
#include <QSqlError>
#include <QSqlQuery>
#include <QSysInfo>

#include <cstdio>
#include <cstring>
#include <memory>

namespace {

// What a script can tell apart.
enum Status : int {
    Done = 0,
    NothingFound = 1,  // no such run, or the filters select none
    UsageError = 2,
    DatabaseFault = 3,  // missing, damaged, from a newer program, unreadable
    OutputFault = 4,
};

void Print(const QString& text)
{
    std::fprintf(stderr, "korvex-results: %s\n", TerminalText(text).toLocal8Bit().constData());
}

int Say(int status, const QString& text)
{
    Print(text);
    return status;
}

// Scripts read stderr for this program's one line; Qt's notes about the session (no runtime
// folder, a connection closed late) are not theirs to parse. Only its grave messages come through.
void QtMessages(QtMsgType type, const QMessageLogContext&, const QString& text)
{
    if (type == QtCriticalMsg || type == QtFatalMsg) Print(text);
}

int Usage(const QString& text) { return Say(UsageError, text + QStringLiteral("; --help shows the usage")); }

QString UsageText()
{
    return QStringLiteral(
               "Usage: korvex-results [--db PATH] COMMAND [OPTIONS]\n"
               "Reads the calibrator's results database; it never changes it.\n"
               "\n"
               "Commands:\n"
               "  list [FILTERS]               one tab-separated line per run, newest first: id, date,\n"
               "                               serial, model, operator, result, duration in seconds\n"
               "  export --csv FILE [FILTERS]  the runs as CSV; FILE - writes to standard output\n"
               "                               (each point's reading, the certificate number, the\n"
               "                               meter's asset number and due date, the band after\n"
               "                               the run's columns); --bom begins it with UTF-8's\n"
               "                               byte-order mark, for a spreadsheet to read it as UTF-8\n"
               "  report ID --pdf FILE         the calibration certificate of run ID as a one-page A4 PDF\n"
               "                               (a report, for a run that did not finish)\n"
               "  stats [FILTERS] [--bench B] [--plausibility P] [--csv FILE]\n"
               "                               the readings per model and point, one tab-separated line\n"
               "                               each: n, mean, standard deviation, min, max (volts or\n"
               "                               amperes), the percentage outside the plausibility band\n"
               "                               (P percent of the level if given, else the band each\n"
               "                               run was held to, none with the check off), the unusual\n"
               "                               ones, then how many were not checked (empty percentage\n"
               "                               when none was); readings as taken, as the chart reads\n"
               "                               them; finished calibrations unless --result says\n"
               "                               otherwise; --csv writes them as CSV instead. Without\n"
               "                               --serial and --plausibility it reads the sums the\n"
               "                               record keeps per day, else every reading (slower)\n"
               "  chart --model M --point P --png FILE [--bench B] [--runs N] [BASELINE]\n"
               "                               the control chart of point P (1 to 7) over the newest N\n"
               "                               (1000) finished calibrations of model M, of bench B or\n"
               "                               all, as a 1600x900 PNG (a PDF for a FILE named .pdf;\n"
               "                               M in any case); writes a line with the runs\n"
               "                               drawn, the baseline's runs, mean, sigma, the lower and\n"
               "                               upper limits and the readings beyond them\n"
               "\n"
               "Baseline of the chart (without these, the one the results window remembers):\n"
               "  --baseline-runs N            the first N runs\n"
               "  --baseline-since YYYY-MM-DD --baseline-until YYYY-MM-DD\n"
               "                               the runs of these days\n"
               "\n"
               "Filters:\n"
               "  --serial S                   the serial number written or read contains S\n"
               "  --since YYYY-MM-DD           runs started on this day or later\n"
               "  --until YYYY-MM-DD           runs started on this day or earlier\n"
               "  --result R                   %1\n"
               "  --bench B                    (stats) runs of the bench named B\n"
               "\n"
               "  --db PATH                    the database; without it, the calibrator's own: the\n"
               "                               [Results] Database of Config.Ini beside this program,\n"
               "                               else PowerTestDb.sqlite there; with a [Database]\n"
               "                               section there, the line's server with every bench's runs\n"
               "  --config FILE                that Config.Ini instead of the one beside this program\n"
               "  --help                       display this help and exit\n"
               "  --version                    output version information and exit\n"
               "\n"
               "Exit status: 0 done; 1 no such run, or no run selected (the header is still written);\n"
               "2 usage error; 3 the database is missing, damaged, from a newer program or unreadable;\n"
               "4 an output file cannot be written.\n")
        .arg(RunResults().join(QStringLiteral(", ")));
}

bool WriteStdout(const QByteArray& bytes)
{
    return std::fwrite(bytes.constData(), 1, std::size_t(bytes.size()), stdout) ==
               std::size_t(bytes.size()) &&
           std::fflush(stdout) == 0;
}

// Only the strict form: "2026-3-9" or "09.03.2026" in a script is more likely a slip than a wish.
bool ParseDay(const QString& text, QDate* day)
{
    const QRegularExpression form(QStringLiteral("^\\d{4}-\\d{2}-\\d{2}$"));
    *day = QDate::fromString(text, QStringLiteral("yyyy-MM-dd"));
    return form.match(text).hasMatch() && day->isValid();
}

// A tab or line break inside a field would split the line for whoever reads it with cut or awk;
// other control characters would reach the terminal that shows it.
QString TabField(const QString& text) { return TerminalText(text, true); }

QString Seconds(double s)
{
    if (s < 0) return QString();
    QString text = QString::number(s, 'f', 3);
    while (text.endsWith(QLatin1Char('0'))) text.chop(1);
    if (text.endsWith(QLatin1Char('.'))) text.chop(1);
    return text;
}

struct Command {
    QString name;
    QStringList options;  // the ones it accepts besides --db
    int positionals;      // including the command's name
};

const QStringList Filters{QStringLiteral("serial"), QStringLiteral("since"), QStringLiteral("until"),
                          QStringLiteral("result")};

const Command Commands[] = {
    {QStringLiteral("list"), Filters, 1},
    {QStringLiteral("export"), Filters + QStringList{QStringLiteral("csv"), QStringLiteral("bom")}, 1},
    {QStringLiteral("report"), {QStringLiteral("pdf")}, 2},
    {QStringLiteral("stats"), Filters + QStringList{QStringLiteral("bench"), QStringLiteral("plausibility"), QStringLiteral("csv")}, 1},
    {QStringLiteral("chart"),
     {QStringLiteral("model"), QStringLiteral("point"), QStringLiteral("bench"), QStringLiteral("runs"), QStringLiteral("png"),
      QStringLiteral("baseline-runs"), QStringLiteral("baseline-since"), QStringLiteral("baseline-until")},
     1},
};

const QStringList StatsColumns{QStringLiteral("model"),   QStringLiteral("point"), QStringLiteral("unit"),
                               QStringLiteral("nominal"), QStringLiteral("n"),     QStringLiteral("mean"),
                               QStringLiteral("sd"),      QStringLiteral("min"),   QStringLiteral("max"),
                               QStringLiteral("outside_pct"), QStringLiteral("unusual"), QStringLiteral("unchecked")};

QString Decimal(double v) { return QString::number(v, 'g', 10); }

int Chart(const ResultsDb& db, ChartRequest request, const QString& target)
{
    ControlChartData data;
    QString error;
    // The model as the record spells it, however it was typed ("7212b").
    QStringList models;
    if (!ChartModels(db.database(), &models, &error))
        return Say(DatabaseFault, QStringLiteral("%1 cannot be read: %2").arg(db.path(), error));
    for (const QString& m : models)
        if (m.compare(request.model, Qt::CaseInsensitive) == 0) request.model = m;
    if (!LoadControlChart(db.database(), request, &data, &error))
        return Say(DatabaseFault, QStringLiteral("%1 cannot be read: %2").arg(db.path(), error));
    ControlChart chart;
    chart.setData(data);
    // A file named .pdf gets a PDF, as the results window writes it; any other name a PNG.
    const bool pdf = target.endsWith(QLatin1String(".pdf"), Qt::CaseInsensitive);
    if (!(pdf ? chart.SavePdf(target, &error) : chart.SavePng(target, ChartPictureSize, &error))) return Say(OutputFault, error);
    const ControlLimits& l = data.limits;
    QString out = QStringLiteral("runs\tbaseline\tmean\tsigma\tlower\tupper\tbeyond\n");
    out += QStringList{QString::number(data.samples.size()), QString::number(l.count),
                       l.computed() ? Decimal(l.mean) : QString(), l.computed() ? Decimal(l.sigma) : QString(),
                       l.valid() ? Decimal(l.lower) : QString(), l.valid() ? Decimal(l.upper) : QString(),
                       QString::number(data.beyond)}
               .join(QLatin1Char('\t')) +
           QLatin1Char('\n');
    if (!WriteStdout(out.toUtf8())) return Say(OutputFault, QStringLiteral("the standard output cannot be written"));
    return data.samples.empty() ? NothingFound : Done;
}

int List(const ResultsDb& db, const RunFilter& filter)
{
    std::vector<RunSummary> runs;
    QString error;
    if (!ListRuns(db.database(), filter, &runs, &error))
        return Say(DatabaseFault, QStringLiteral("%1 cannot be read: %2").arg(db.path(), error));
    QString out = QStringLiteral("id\tdate\tserial\tmodel\toperator\tresult\tduration_s\n");
    for (const RunSummary& r : runs) {
        out +=
            QStringList{QString::number(r.id),    TabField(r.date),   TabField(r.serial),  TabField(r.model),
                        TabField(r.operatorName), TabField(r.result), Seconds(r.durationS)}
                .join(QLatin1Char('\t')) +
            QLatin1Char('\n');
    }
    if (!WriteStdout(out.toUtf8()))
        return Say(OutputFault, QStringLiteral("the standard output cannot be written"));
    return runs.empty() ? NothingFound : Done;
}

int Export(const ResultsDb& db, const RunFilter& filter, const QString& target, ByteOrderMark mark)
{
    // Streamed: the runs are not listed first, which on a line's record would hold them all at once.
    QString error;
    qint64 runs = 0;
    if (target == QLatin1String("-")) {
        QFile out;
        if (!out.open(stdout, QIODevice::WriteOnly) || !ExportCsv(db.database(), filter, out, &error, &runs, mark) ||
            !out.flush()) {
            if (out.error() != QFileDevice::NoError)
                return Say(
                    OutputFault,
                    QStringLiteral("the standard output cannot be written: %1").arg(out.errorString()));
            return Say(DatabaseFault, QStringLiteral("%1 cannot be read: %2").arg(db.path(), error));
        }
        return runs == 0 ? NothingFound : Done;
    }
    // Written whole or not at all: a half-written file must not replace yesterday's export.
    WholeFile out(target);
    if (!out.open()) return Say(OutputFault, QStringLiteral("%1 cannot be written: %2").arg(target, out.errorString()));
    if (!ExportCsv(db.database(), filter, *out.device(), &error, &runs, mark)) {
        const bool writeFault = out.device()->error() != QFileDevice::NoError;
        out.cancel();
        if (writeFault)
            return Say(OutputFault, QStringLiteral("%1 cannot be written: %2").arg(target, error));
        return Say(DatabaseFault, QStringLiteral("%1 cannot be read: %2").arg(db.path(), error));
    }
    if (!out.commit())
        return Say(OutputFault, QStringLiteral("%1 cannot be written: %2").arg(target, out.errorString()));
    return runs == 0 ? NothingFound : Done;
}

// Written whole or not at all, as an export is; "-" is the standard output.
int WriteWhole(const QString& target, const QByteArray& bytes)
{
    if (target == QLatin1String("-")) {
        if (!WriteStdout(bytes)) return Say(OutputFault, QStringLiteral("the standard output cannot be written"));
        return Done;
    }
    QString error;
    if (!WriteWholeFile(target, bytes, &error))
        return Say(OutputFault, QStringLiteral("%1 cannot be written: %2").arg(target, error));
    return Done;
}

int Stats(const ResultsDb& db, const RunFilter& filter, double share, const QString& csvTarget)
{
    std::vector<PointStats> stats;
    QString error;
    if (!ReadingStats(db.database(), filter, share, &stats, &error))
        return Say(DatabaseFault, QStringLiteral("%1 cannot be read: %2").arg(db.path(), error));
    const bool csv = !csvTarget.isEmpty();
    auto line = [csv](const QStringList& fields) {
        if (!csv) return fields.join(QLatin1Char('\t')) + QLatin1Char('\n');
        QStringList quoted;
        for (const QString& f : fields) quoted << CsvField(f);
        return quoted.join(QLatin1Char(',')) + QStringLiteral("\r\n");
    };
    QString out = line(StatsColumns);
    for (const PointStats& p : stats) {
        out += line({csv ? p.model : TabField(p.model), QString::number(p.point), p.unit, p.nominal, QString::number(p.n),
                     QString::number(p.mean, 'f', 4), QString::number(p.standardDeviation, 'f', 4),
                     QString::number(p.minimum, 'f', 3), QString::number(p.maximum, 'f', 3),
                     // Empty, not 0.00: with no reading held to a band, none is known to lie inside it.
                     p.checked > 0 ? QString::number(100.0 * p.outsideShare(), 'f', 2) : QString(), QString::number(p.unusual),
                     QString::number(p.unchecked())});
    }
    const int written = csv ? WriteWhole(csvTarget, out.toUtf8()) : WriteWhole(QStringLiteral("-"), out.toUtf8());
    if (written != Done) return written;
    return stats.empty() ? NothingFound : Done;
}

int Report(const ResultsDb& db, qint64 id, const QString& target)
{
    // Asked apart from LoadRun so that a missing run is told from a database that cannot be read.
    {
        QSqlQuery q(db.database());
        q.prepare(QStringLiteral("SELECT count(*) FROM TestResult WHERE id = ?"));
        q.addBindValue(id);
        if (!q.exec() || !q.next())
            return Say(DatabaseFault,
                       QStringLiteral("%1 cannot be read: %2").arg(db.path(), q.lastError().text()));
        if (q.value(0).toLongLong() == 0)
            return Say(NothingFound, QStringLiteral("there is no run %1 in %2").arg(id).arg(db.path()));
    }
    RunDetails run;
    QString error;
    if (!LoadRun(db.database(), id, &run, &error))
        return Say(DatabaseFault, QStringLiteral("%1 cannot be read: %2").arg(db.path(), error));
    if (!WriteReportPdf(run, target, &error)) return Say(OutputFault, error);
    return Done;
}

}  // namespace

int main(int argc, char** argv)
{
    // The report is drawn with the system's fonts, which need a GUI application, but never a display.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    qInstallMessageHandler(QtMessages);
    // The chart is drawn by the results window's own widgets, which need a widget application.
    bool drawsChart = false;
    for (int i = 1; i < argc; ++i) drawsChart = drawsChart || std::strcmp(argv[i], "chart") == 0;
    std::unique_ptr<QGuiApplication> app = drawsChart ? std::make_unique<QApplication>(argc, argv)
                                                      : std::make_unique<QGuiApplication>(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("korvex-results"));

    QCommandLineParser parser;
    const QCommandLineOption help(QStringList{QStringLiteral("h"), QStringLiteral("help")});
    const QCommandLineOption db(QStringLiteral("db"), QString(), QStringLiteral("path"));
    const QCommandLineOption config(QStringLiteral("config"), QString(), QStringLiteral("file"));
    const QCommandLineOption serial(QStringLiteral("serial"), QString(), QStringLiteral("text"));
    const QCommandLineOption since(QStringLiteral("since"), QString(), QStringLiteral("day"));
    const QCommandLineOption until(QStringLiteral("until"), QString(), QStringLiteral("day"));
    const QCommandLineOption result(QStringLiteral("result"), QString(), QStringLiteral("result"));
    const QCommandLineOption csv(QStringLiteral("csv"), QString(), QStringLiteral("file"));
    const QCommandLineOption pdf(QStringLiteral("pdf"), QString(), QStringLiteral("file"));
    const QCommandLineOption bench(QStringLiteral("bench"), QString(), QStringLiteral("name"));
    const QCommandLineOption plausibility(QStringLiteral("plausibility"), QString(), QStringLiteral("percent"));
    const QCommandLineOption version(QStringLiteral("version"));
    const QCommandLineOption bom(QStringLiteral("bom"));
    const QCommandLineOption model(QStringLiteral("model"), QString(), QStringLiteral("model"));
    const QCommandLineOption point(QStringLiteral("point"), QString(), QStringLiteral("point"));
    const QCommandLineOption runs(QStringLiteral("runs"), QString(), QStringLiteral("n"));
    const QCommandLineOption png(QStringLiteral("png"), QString(), QStringLiteral("file"));
    const QCommandLineOption baselineRuns(QStringLiteral("baseline-runs"), QString(), QStringLiteral("n"));
    const QCommandLineOption baselineSince(QStringLiteral("baseline-since"), QString(), QStringLiteral("day"));
    const QCommandLineOption baselineUntil(QStringLiteral("baseline-until"), QString(), QStringLiteral("day"));
    parser.addOptions({help, version, db, config, serial, since, until, result, csv, bom, pdf, bench, plausibility, model, point, runs, png,
                       baselineRuns, baselineSince, baselineUntil});
    if (!parser.parse(QCoreApplication::arguments())) {
        // Named as typed, as GNU programs name it: QCommandLineParser's own text drops the dashes.
        const QStringList unknown = parser.unknownOptionNames();
        if (unknown.isEmpty()) return Usage(parser.errorText());
        const QString& name = unknown.first();
        return Usage(QStringLiteral("unrecognized option '%1%2'").arg(name.size() == 1 ? QStringLiteral("-") : QStringLiteral("--"), name));
    }

    const QStringList words = parser.positionalArguments();
    if (parser.isSet(help) || words.value(0) == QLatin1String("help")) {
        WriteStdout(UsageText().toUtf8());
        return Done;
    }
    if (parser.isSet(version)) {
        WriteStdout("korvex-results (Korvex Power Calibrator) " KORVEX_VERSION_TEXT "\n");
        return Done;
    }
    if (words.isEmpty()) return Usage(QStringLiteral("no command given (list, export, report, stats or chart)"));
    const Command* command = nullptr;
    for (const Command& c : Commands)
        if (c.name == words[0]) command = &c;
    if (!command)
        return Usage(QStringLiteral("unknown command \"%1\" (list, export, report, stats or chart)").arg(words[0]));
    if (words.size() < command->positionals)
        return Usage(QStringLiteral("%1 needs a run id").arg(command->name));
    if (words.size() > command->positionals)
        return Usage(
            QStringLiteral("unexpected \"%1\" after %2").arg(words[command->positionals], command->name));
    const QStringList given = parser.optionNames();
    for (const QString& name : given) {
        if (name != QLatin1String("db") && name != QLatin1String("config") && !command->options.contains(name))
            return Usage(QStringLiteral("--%1 does not apply to %2").arg(name, command->name));
    }

    RunFilter filter;
    filter.serial = parser.value(serial);
    if (parser.isSet(since) && !ParseDay(parser.value(since), &filter.from))
        return Usage(QStringLiteral("--since \"%1\" is not a day (YYYY-MM-DD)").arg(parser.value(since)));
    if (parser.isSet(until) && !ParseDay(parser.value(until), &filter.to))
        return Usage(QStringLiteral("--until \"%1\" is not a day (YYYY-MM-DD)").arg(parser.value(until)));
    if (filter.from.isValid() && filter.to.isValid() && filter.from > filter.to)
        return Usage(
            QStringLiteral("--since %1 is after --until %2").arg(parser.value(since), parser.value(until)));
    filter.result = parser.value(result);
    if (parser.isSet(result) && !RunResults().contains(filter.result))
        return Usage(QStringLiteral("unknown result \"%1\" (%2)")
                         .arg(filter.result, RunResults().join(QStringLiteral(", "))));

    filter.bench = parser.value(bench);
    double share = 0;  // each run's own band
    if (parser.isSet(plausibility)) {
        bool isNumber = false;
        const double percent = parser.value(plausibility).toDouble(&isNumber);
        if (!isNumber || !(percent > 0.0 && percent <= 100.0))
            return Usage(QStringLiteral("--plausibility \"%1\" is not a percentage above 0 and at most 100")
                             .arg(parser.value(plausibility)));
        share = percent / 100.0;
    }

    qint64 id = 0;
    if (command->name == QLatin1String("report")) {
        bool isNumber = false;
        id = words[1].toLongLong(&isNumber);
        if (!isNumber || id <= 0) return Usage(QStringLiteral("\"%1\" is not a run id").arg(words[1]));
        if (parser.value(pdf).isEmpty()) return Usage(QStringLiteral("report needs --pdf FILE"));
    }
    if (command->name == QLatin1String("export") && parser.value(csv).isEmpty())
        return Usage(QStringLiteral("export needs --csv FILE"));
    const QString iniPath = parser.isSet(config) ? parser.value(config) : DataDir() + QStringLiteral("Config.Ini");
    ChartRequest chart;
    if (command->name == QLatin1String("chart")) {
        if (parser.value(model).isEmpty() || !parser.isSet(point) || parser.value(png).isEmpty())
            return Usage(QStringLiteral("chart needs --model M, --point P and --png FILE"));
        bool isNumber = false;
        chart.model = parser.value(model);
        chart.point = parser.value(point).toInt(&isNumber);
        if (!isNumber || chart.point < 1 || chart.point > CalPointCount)
            return Usage(QStringLiteral("--point \"%1\" is not a point (1 to %2)").arg(parser.value(point)).arg(CalPointCount));
        chart.bench = parser.value(bench);
        if (parser.isSet(runs)) {
            chart.lastRuns = parser.value(runs).toInt(&isNumber);
            if (!isNumber || chart.lastRuns < 1) return Usage(QStringLiteral("--runs \"%1\" is not a number of runs").arg(parser.value(runs)));
        }
        chart.baseline = LoadChartBaseline(iniPath);
        chart.plausibilityShare = LoadMeterSettings(iniPath).plausibilityShare;
        if (parser.isSet(baselineRuns) && (parser.isSet(baselineSince) || parser.isSet(baselineUntil)))
            return Usage(QStringLiteral("--baseline-runs and --baseline-since/--baseline-until exclude each other"));
        if (parser.isSet(baselineRuns)) {
            chart.baseline.kind = ChartBaseline::Kind::FirstRuns;
            chart.baseline.runs = parser.value(baselineRuns).toInt(&isNumber);
            if (!isNumber || chart.baseline.runs < 2)
                return Usage(QStringLiteral("--baseline-runs \"%1\" is not a number of runs, 2 or more").arg(parser.value(baselineRuns)));
        }
        if (parser.isSet(baselineSince) || parser.isSet(baselineUntil)) {
            chart.baseline.kind = ChartBaseline::Kind::Days;
            if (!ParseDay(parser.value(baselineSince), &chart.baseline.from) ||
                !ParseDay(parser.value(baselineUntil), &chart.baseline.to) || chart.baseline.from > chart.baseline.to)
                return Usage(QStringLiteral("the baseline needs --baseline-since and --baseline-until, two days in order (YYYY-MM-DD)"));
        }
    }

    if (parser.isSet(db) && parser.isSet(config)) return Usage(QStringLiteral("--db and --config exclude each other"));
    ResultsDb results;
    const LineSettings line = parser.isSet(db) ? LineSettings() : LoadLineSettings(iniPath, QSysInfo::machineHostName());
    if (line.enabled) {
        // A bench on a line: the line's server, with every bench's runs.
        if (!line.problem.isEmpty()) return Say(DatabaseFault, line.problem);
        if (!results.openServer(line.server, ResultsDb::Mode::Read)) return Say(DatabaseFault, results.errorText());
    } else {
        const QString path = parser.isSet(db) ? parser.value(db) : ResultsDatabasePath(iniPath);
        if (!results.open(path, ResultsDb::Mode::Read)) return Say(DatabaseFault, results.errorText());
    }

    if (command->name == QLatin1String("list")) return List(results, filter);
    if (command->name == QLatin1String("export")) return Export(results, filter, parser.value(csv), parser.isSet(bom) ? ByteOrderMark::With : ByteOrderMark::Without);
    if (command->name == QLatin1String("stats")) return Stats(results, filter, share, parser.value(csv));
    if (command->name == QLatin1String("chart")) return Chart(results, chart, parser.value(png));
    return Report(results, id, parser.value(pdf));
}
