#include "CutAdjustment.h"

#include <cmath>

#include "Support/NumberText.h"

namespace talvian::CutAdjustmentState {

std::optional<double> resolved(std::string_view text, double original) {
    if (text == fixedDecimal(original, 4)) return original;
    const auto value = parseDecimal(text);
    if (!value || std::isnan(*value)) return std::nullopt;
    return value;
}

bool valid(double start, double end, double duration) {
    return std::isfinite(start) && std::isfinite(end) && start >= 0 && std::isfinite(duration) &&
           end <= duration && end - start > kMinimumLength;
}

}  // namespace talvian::CutAdjustmentState
