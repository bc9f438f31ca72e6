// The on-screen texts of the step outcomes.
#include "RunTexts.h"

QString StepOutcomeText(StepOutcome outcome)
{
    switch (outcome) {
        case StepOutcome::Succeed: return QStringLiteral("Succeed !");
        case StepOutcome::CommunicationFailed: return QStringLiteral("Communication failed !");
        case StepOutcome::TestAbort: return QStringLiteral("Test abort");
        case StepOutcome::CalibratingAbort: return QStringLiteral("Calibrating Abort !");
    }
    return QString();
}
