// The record's words for run results and step states.
#include "RunWords.h"

RecordResult ResultOf(RunEnd end)
{
    switch (end) {
        case RunEnd::Finished: return RecordResult::Finished;
        case RunEnd::Failed:
        case RunEnd::Refused: return RecordResult::Failed;
        case RunEnd::Aborted: return RecordResult::Aborted;
        case RunEnd::Cleared: return RecordResult::Cleared;
        case RunEnd::ClearingFailed: return RecordResult::ClearingFailed;
    }
    return RecordResult::Interrupted;
}

QString ResultWord(RecordResult result)
{
    switch (result) {
        case RecordResult::Finished: return QStringLiteral("finished");
        case RecordResult::Failed: return QStringLiteral("failed");
        case RecordResult::Aborted: return QStringLiteral("aborted");
        case RecordResult::Stalled: return QStringLiteral("stalled");
        case RecordResult::Cleared: return QStringLiteral("cleared");
        case RecordResult::ClearingFailed: return QStringLiteral("clearing_failed");
        case RecordResult::Interrupted: return QStringLiteral("interrupted");
    }
    return QString();
}

QStringList ResultWords()
{
    QStringList words;
    for (int r = int(RecordResult::Finished); r <= int(RecordResult::Interrupted); ++r)
        words << ResultWord(static_cast<RecordResult>(r));
    return words;
}

// The same words the step list shows: the record's files and reports have always held them.
QString StepStateWord(StepOutcome outcome)
{
    switch (outcome) {
        case StepOutcome::Succeed: return QStringLiteral("Succeed !");
        case StepOutcome::CommunicationFailed: return QStringLiteral("Communication failed !");
        case StepOutcome::TestAbort: return QStringLiteral("Test abort");
        case StepOutcome::CalibratingAbort: return QStringLiteral("Calibrating Abort !");
    }
    return QString();
}
