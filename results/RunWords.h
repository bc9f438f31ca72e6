// The words the record stores for what the engine passes as enums: each word is written here once.
#pragma once

#include "RunObserver.h"
#include "RunTexts.h"

#include <QStringList>

// What the record says of a run.
enum class RecordResult { Finished, Failed, Aborted, Stalled, Cleared, ClearingFailed, Interrupted };

RecordResult ResultOf(RunEnd end);
QString ResultWord(RecordResult result);
inline QString ResultWord(RunEnd end) { return ResultWord(ResultOf(end)); }
// Every word a run's result can be, in the order of RecordResult.
QStringList ResultWords();
// A step's state as the record keeps it.
QString StepStateWord(StepOutcome outcome);
