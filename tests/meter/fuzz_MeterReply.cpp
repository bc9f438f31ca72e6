// Fuzz target for the meter's answers: any bytes give one of the four kinds, a value only when
// it is a finite number below the overload value, and never a crash.
#include "ScpiReply.h"

#include <cmath>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QByteArray line(reinterpret_cast<const char*>(data), static_cast<int>(size));
    for (MeterQuantity q : {MeterQuantity::Voltage, MeterQuantity::Current}) {
        const MeterReply r = ParseMeterReply(line, q);
        if (r.kind == MeterReply::Kind::Value) {
            if (!std::isfinite(r.value) || std::fabs(r.value) >= 9.9e37 || !r.problem.isEmpty()) std::abort();
        } else if (r.problem.isEmpty()) {
            std::abort();
        }
    }
    return 0;
}
