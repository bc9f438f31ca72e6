// The automatic operator of a run without a display: one whole calibration through the real
// windows, each answered as an operator would, with every step told as it goes.
#include "AutoOperator.h"

#include "CalList.h"
#include "MainUnit.h"
#include "ResultsDb.h"
#include "ResultsQuery.h"
#include "RunWords.h"
#include "Settingdlg.h"
#include "Unit1.h"
#include "Unit3.h"
#include "ValueDlg.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QMessageBox>
#include <QPushButton>
#include <QSqlError>
#include <QSqlQuery>
#include <QToolButton>

#include <sys/resource.h>

namespace {

constexpr int PollMs = 20;
constexpr int LevelWaitMs = 5000;

// User and system processor time of this process so far.
qint64 CpuUs()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1000000LL + usage.ru_utime.tv_usec + usage.ru_stime.tv_usec;
}

}  // namespace

AutoOperator::AutoOperator(TMainForm& form, Options options, std::function<void(const QString&)> say)
    : form_(form), options_(std::move(options)), say_(std::move(say))
{
    poll_.setInterval(PollMs);
    connect(&poll_, &QTimer::timeout, this, &AutoOperator::Poll);
    patience_.setSingleShot(true);
    patience_.setInterval(options_.patienceMs);
    connect(&patience_, &QTimer::timeout, this, [this] { Finish(1, QStringLiteral("nothing happened for too long")); });
    form_.engine().AddObserver(this);
    qApp->installEventFilter(this);
}

AutoOperator::~AutoOperator()
{
    qApp->removeEventFilter(this);
    form_.engine().RemoveObserver(this);
}

void AutoOperator::Start()
{
    poll_.start();
    patience_.start();
}

bool AutoOperator::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::Show && watched->isWidgetType() && static_cast<QWidget*>(watched)->isWindow())
        poll_.start(0);
    return QObject::eventFilter(watched, event);
}

void AutoOperator::Poll()
{
    if (poll_.interval() != PollMs) poll_.setInterval(PollMs);
    if (busy_) return;
    if (QWidget* modal = QApplication::activeModalWidget()) {
        if (modal != answered_) Later([this, window = QPointer<QWidget>(modal)] {
            if (window) Answer(window);
        });
        return;
    }
    answered_ = nullptr;
    if (ended_) return;
    if (!settingDone_) {
        settingDone_ = true;
        say_(QStringLiteral("Setting: OK"));
        Later([this] {
            form_.btnSetting->click();
            if (!form_.link().FPortOpen) Finish(1, QStringLiteral("the port did not open"));
        });
        return;
    }
    if (!started_) {
        started_ = true;
        say_(QStringLiteral("Calibrate"));
        Later([this] { form_.btnStart->click(); });
    }
}

void AutoOperator::Later(std::function<void()> act)
{
    // Out of the poll timer's own slot: what the act opens modally needs the timer to go on.
    busy_ = true;
    QMetaObject::invokeMethod(
        this,
        [this, act = std::move(act)] {
            busy_ = false;
            act();
        },
        Qt::QueuedConnection);
}

void AutoOperator::Answer(QWidget* window)
{
    patience_.start();
    if (auto* splash = qobject_cast<TForm1*>(window)) {
        answered_ = window;
        splash->Image1Click();
    } else if (auto* settings = qobject_cast<TFormSetting*>(window)) {
        answered_ = window;
        settings->btnOK->click();
    } else if (auto* info = qobject_cast<TForm3*>(window)) {
        answered_ = window;
        say_(QStringLiteral("  prompt: %1").arg(info->Label1->text().section(QLatin1Char('.'), 0, 1)));
        info->Button1->click();
    } else if (qobject_cast<TFormValue*>(window)) {
        // Waits, poll after poll, until the dialog has something to confirm.
        if (AnswerValueDialog(window)) answered_ = window;
    } else if (auto* box = qobject_cast<QMessageBox*>(window)) {
        answered_ = window;
        say_(QStringLiteral("  box \"%1\": %2").arg(box->windowTitle(), box->text().simplified()));
        // A doubtful reading is not taken: the run is then aborted at that point.
        const bool doubt = box->text().contains(QStringLiteral("Use it anyway?"));
        QAbstractButton* button = box->button(doubt ? QMessageBox::No : QMessageBox::Yes);
        if (!button) button = box->button(QMessageBox::Ok);
        if (!button) button = box->defaultButton();
        if (button) button->click();
        else box->reject();
    } else {
        answered_ = window;
        say_(QStringLiteral("  unexpected window %1: closed").arg(window->windowTitle()));
        window->close();
    }
}

bool AutoOperator::AnswerValueDialog(QWidget* window)
{
    auto* dialog = static_cast<TFormValue*>(window);
    const int point = points_ + 1;
    if (dialog->Label3->isVisible()) {
        const QString note = dialog->Label3->text();
        if (note == QStringLiteral("Reading the meter ...")) return false;
        if (dialog->Edit1->text().isEmpty()) {
            const QString level = LevelOfPoint(point);
            if (level.isEmpty() && ++levelPolls_ < LevelWaitMs / PollMs) return false;
            say_(QStringLiteral("  meter: %1").arg(note));
            levelPolls_ = 0;
            if (level.isEmpty()) {
                dialog->Button2->click();
                return true;
            }
            dialog->Edit1->setText(level);
        }
    } else {
        const QString level = LevelOfPoint(point);
        if (level.isEmpty()) {
            // The supply's level may reach the file a moment after the prompt: wait for it a while.
            if (++levelPolls_ < LevelWaitMs / PollMs) return false;
            say_(QStringLiteral("  no level known for point %1: aborted").arg(point));
            levelPolls_ = 0;
            dialog->Button2->click();
            return true;
        }
        dialog->Edit1->setText(level);
    }
    levelPolls_ = 0;
    dialog->Button1Click();
    // An unusual reading is pointed out at the first Enter and taken at the second, as by hand.
    if (dialog->isVisible() && !dialog->Label4->isHidden() && !dialog->Label4->text().isEmpty()) {
        say_(QStringLiteral("  notice: %1").arg(dialog->Label4->text()));
        dialog->Button1Click();
    }
    return true;
}

QString AutoOperator::LevelOfPoint(int point) const
{
    if (options_.levelsFile.isEmpty()) return QString();
    QFile file(options_.levelsFile);
    if (!file.open(QIODevice::ReadOnly)) return QString();
    int seen = 0;
    while (!file.atEnd()) {
        const QByteArray line = file.readLine().trimmed();
        if (!line.startsWith("METER ")) continue;
        if (++seen == point) {
            const double value = line.split(' ').value(1).toDouble();
            QLocale locale = QLocale::system();
            locale.setNumberOptions(QLocale::OmitGroupSeparator);
            return locale.toString(value, 'g', 8);
        }
    }
    return QString();
}

void AutoOperator::RunStarted(RunKind, const TRunState& state)
{
    runClock_.start();
    cpuAtStartUs_ = CpuUs();
    say_(QStringLiteral("run started: model %1, address %2").arg(ModelName(state.FModel)).arg(state.FAddress));
}

void AutoOperator::StepState(int step, StepOutcome outcome)
{
    const QString text = StepOutcomeText(outcome);
    const TRunState& s = form_.engine().state();
    const QString what = step >= 1 && step <= static_cast<int>(s.FCalList.size())
                             ? s.FCalList[static_cast<std::size_t>(step - 1)].Description.trimmed()
                             : QString();
    say_(QStringLiteral("[step %1] %2: %3").arg(step, 2).arg(what, text));
}

void AutoOperator::ReadingAccepted(int meterStep, const QString& typed, std::int64_t valueSent, ReadingSource source,
                                   const ReadingQuality&)
{
    points_ = CalPointOfMeterStep(meterStep);
    say_(QStringLiteral("  point %1: %2 %3 (%4), sent %5 %6")
             .arg(points_)
             .arg(typed, IsCurrentPoint(meterStep) ? QStringLiteral("A") : QStringLiteral("V"),
                  source == ReadingSource::Meter ? QStringLiteral("meter") : QStringLiteral("typed"))
             .arg(valueSent)
             .arg(IsCurrentPoint(meterStep) ? QStringLiteral("mA") : QStringLiteral("mV")));
}

void AutoOperator::RunStalled(int step)
{
    say_(QStringLiteral("[step %1] no answer: the run waits").arg(step, 2));
    if (options_.runs > 1) {
        // In a soak the next run goes on: this one is over for the operator.
        PressAbort();
        return;
    }
    Finish(1, QStringLiteral("the supply stopped answering"));
}

void AutoOperator::RunEnded(RunKind, RunEnd end, const TRunState&)
{
    if (finishing_) {
        poll_.stop();
        patience_.stop();
        QApplication::exit(exitCode_);
        return;
    }
    if (!ended_ && runClock_.isValid()) {
        const qint64 ms = runClock_.elapsed();
        const double cpu = static_cast<double>(CpuUs() - cpuAtStartUs_) / 1000.0;
        say_(QStringLiteral("run took %1 ms, processor %2 ms (%3 %)")
                 .arg(ms)
                 .arg(cpu, 0, 'f', 1)
                 .arg(ms > 0 ? 100.0 * cpu / static_cast<double>(ms) : 0.0, 0, 'f', 2));
    }
    ended_ = true;
    end_ = end;
    // Ended once the closing box, if any, has been answered.
    QTimer::singleShot(0, this, [this] {
        if (QApplication::activeModalWidget()) {
            QTimer::singleShot(PollMs, this, [this] { RunEnded(RunKind::Calibration, end_, form_.engine().state()); });
            return;
        }
        if (options_.runs > 1) {
            ++runsDone_;
            ++outcomes_[ResultWord(end_)];
            QFile status(QStringLiteral("/proc/self/status"));
            QString rss;
            if (status.open(QIODevice::ReadOnly))
                for (const QByteArray& line : status.readAll().split('\n'))
                    if (line.startsWith("VmRSS:")) rss = QString::fromLatin1(line.mid(6).simplified());
            const int fds = static_cast<int>(QDir(QStringLiteral("/proc/self/fd")).entryList(QDir::NoDotAndDotDot | QDir::AllEntries | QDir::System).size());
            say_(QStringLiteral("SOAK run %1 %2 rss %3 fds %4").arg(runsDone_).arg(ResultWord(end_), rss).arg(fds));
            if (runsDone_ < options_.runs) {
                ended_ = false;
                started_ = false;
                points_ = 0;
                answered_ = nullptr;
                return;
            }
            QStringList summary;
            for (const auto& [what, count] : outcomes_) summary << QStringLiteral("%1 %2").arg(count).arg(what);
            Finish(0, QStringLiteral("%1 runs: %2").arg(runsDone_).arg(summary.join(QStringLiteral(", "))));
            return;
        }
        if (end_ != RunEnd::Finished) {
            Finish(1, QStringLiteral("the run %1").arg(ResultWord(end_)));
            return;
        }
        if (!options_.databasePath.isEmpty()) {
            // The newest run may be another operator's, or an earlier one of this bench: only the
            // run this start made, by the name it was recorded under, counts.
            const QString uid = options_.runUid ? options_.runUid() : QString();
            ResultsDb db;
            QSqlQuery q;
            if (db.open(options_.databasePath, ResultsDb::Mode::Read)) {
                q = QSqlQuery(db.database());
                q.prepare(QStringLiteral("SELECT id, result FROM TestResult WHERE run_uid = ?"));
                q.addBindValue(uid);
            }
            if (!db.isOpen() || uid.isEmpty() || !q.exec() || !q.next() || q.value(1).toString() != QLatin1String("finished")) {
                const QString why = !db.isOpen() ? db.errorText()
                                    : q.lastError().isValid() ? q.lastError().text()
                                                              : QStringLiteral("no finished run named %1 in %2").arg(uid, options_.databasePath);
                Finish(1, QStringLiteral("the results record does not hold the run: %1").arg(why));
                return;
            }
            say_(QStringLiteral("recorded as run %1 in %2").arg(q.value(0).toLongLong()).arg(options_.databasePath));
        }
        Finish(0, QStringLiteral("finished"));
    });
}

void AutoOperator::Finish(int code, const QString& why)
{
    if (!finishing_) {
        exitCode_ = code;
        say_(QStringLiteral("RESULT %1").arg(why));
    }
    // A run that still holds the window is aborted first, as the operator would; the polls go on
    // to answer the question, and the run's end ends the program. An abort that never comes to
    // an end (patience ran out once more) does not keep the program.
    if (form_.state().FCalibrating && !finishing_) {
        finishing_ = true;
        PressAbort();
        return;
    }
    poll_.stop();
    patience_.stop();
    QApplication::exit(exitCode_);
}

void AutoOperator::PressAbort()
{
    Later([this] { form_.btnCancel->click(); });
}
