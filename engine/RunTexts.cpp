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

QString StallText(bool portOpen, int port, int baud, int address)
{
    if (!portOpen) return QStringLiteral("The port is not open: press Setting first.");
    return QStringLiteral("The supply does not answer on COM%1 at %2 baud, address %3: check the cable, the address and the "
                          "baud rate, or press Abort.")
        .arg(port)
        .arg(baud)
        .arg(address);
}
