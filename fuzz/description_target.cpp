// SPDX-License-Identifier: MIT
// The description fuzz target: reads its input bytes as a module description. A
// DescriptionError is a refused description; any other exception or a crash aborts, and so does
// an accepted description that breaks what the tools rely on: pins sorted by unique ids, unique
// symbols that are C identifiers, defaults within their range, positive ranges for logarithmic
// pins, and finite pin values for every described default and range end.
#include <cctype>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "fuzz/invariant_check.h"
#include "describe/description_reader.h"
#include "describe/user_value.h"

namespace kvx::fuzz {
namespace {

bool isSymbol(const std::string& text) {
    if (text.empty() || std::isdigit(static_cast<unsigned char>(text[0]))) return false;
    for (char c : text)
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != '_') return false;
    return true;
}

void checkPin(const describe::PinDescription& pin) {
    FUZZ_CHECK(pin.id >= 0);
    FUZZ_CHECK(isSymbol(pin.symbol));
    FUZZ_CHECK(!pin.name.empty());
    if (pin.minimum && pin.maximum) FUZZ_CHECK(*pin.minimum <= *pin.maximum);
    if (pin.defaultValue && pin.datatype != describe::Datatype::Bool) {
        if (pin.minimum) FUZZ_CHECK(*pin.defaultValue >= *pin.minimum);
        if (pin.maximum) FUZZ_CHECK(*pin.defaultValue <= *pin.maximum);
    }
    const bool logarithmic = pin.scale == describe::Scale::Logarithmic ||
                             (pin.mapping && pin.mapping->kind == describe::Mapping::Kind::Logarithmic);
    if (logarithmic) {
        FUZZ_CHECK(pin.minimum && *pin.minimum > 0.0);
        // A logarithmic pin's described values have a logarithm: not NaN. (A huge scale may still
        // round a value to an infinite float: the description asked for it.)
        for (const auto& value : {pin.defaultValue, pin.minimum, pin.maximum})
            if (value && pin.datatype != describe::Datatype::Bool)
                FUZZ_CHECK(!std::isnan(describe::pinValueFor(pin, *value)));
    }
    if (pin.datatype == describe::Datatype::Bool) {
        FUZZ_CHECK(!pin.mapping && !pin.minimum && !pin.maximum);
        if (pin.defaultValue) FUZZ_CHECK(*pin.defaultValue == 0.0 || *pin.defaultValue == 1.0);
    }
    if (!pin.isInput()) FUZZ_CHECK(!pin.defaultValue && !pin.mapping);
}

void readDescription(std::string_view text) {
    describe::Description description;
    try {
        description = describe::parseDescription(text, "fuzz.kvx.json");
    } catch (const describe::DescriptionError& error) {
        FUZZ_CHECK(std::string_view(error.what()).find('\n') == std::string_view::npos);
        return;
    }
    FUZZ_CHECK(!description.modules.empty());
    for (size_t m = 0; m < description.modules.size(); ++m) {
        const describe::ModuleDescription& module = description.modules[m];
        FUZZ_CHECK(isSymbol(module.symbol));
        FUZZ_CHECK(description.find(module.id, module.subtype) == &module);
        for (size_t i = 0; i < module.pins.size(); ++i) {
            checkPin(module.pins[i]);
            if (i > 0) FUZZ_CHECK(module.pins[i - 1].id < module.pins[i].id);
            FUZZ_CHECK(module.pinBySymbol(module.pins[i].symbol) == &module.pins[i]);
        }
    }
}

}  // namespace
}  // namespace kvx::fuzz

extern "C" int LLVMFuzzerInitialize(int*, char***) { return 0; }

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    kvx::fuzz::readDescription(std::string_view(reinterpret_cast<const char*>(data), size));
    return 0;
}
