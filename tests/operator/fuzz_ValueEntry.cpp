// Fuzz target for the value entry: whatever is typed, the check takes a finite number that fits
// the step's frame field, or nothing, and never crashes.
#include "ValueDlg.h"

#include <cmath>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 1) return 0;
    const std::uint8_t step = data[0] % 30;
    const QString text = QString::fromUtf8(reinterpret_cast<const char*>(data + 1), static_cast<int>(size - 1));
    const double value = TFormValue::EntryValue(text);
    const auto milli = TFormValue::MilliValue(value, step);
    if (milli) {
        if (value == 0.0 || !std::isfinite(value)) std::abort();
        // The thousandths kept are those of the value typed, to the nearest.
        if (std::fabs(static_cast<double>(*milli) - value * 1000.0) > 0.5 + 1e-6 * std::fabs(value * 1000.0)) std::abort();
        if (TFormValue::IsCurrentStep(step) && (*milli < -32768 || *milli > 65535)) std::abort();
    }
    return 0;
}
