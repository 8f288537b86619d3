// SPDX-License-Identifier: MIT
// Identifier bytes of the interface family, parsed from their registry text.
#include "conformance/raw_abi.h"

#include <algorithm>
#include <cctype>

namespace kvx::conformance {

Guid guidFromText(const std::string& text) {
    std::string hex;
    for (char c : text)
        if (std::isxdigit(static_cast<unsigned char>(c))) hex.push_back(c);
    auto byteAt = [&](size_t i) {
        return static_cast<uint8_t>(std::stoul(hex.substr(2 * i, 2), nullptr, 16));
    };
    static constexpr size_t order[16] = {3, 2, 1, 0, 5, 4, 7, 6, 8, 9, 10, 11, 12, 13, 14, 15};
    Guid bytes{};
    for (size_t i = 0; i < 16; ++i) bytes[i] = byteAt(order[i]);
    return bytes;
}

namespace iid {
const Guid UNKNOWN = guidFromText("{00000000-0000-C000-0000-000000000046}");
const Guid FACTORY = guidFromText("{9A7904B7-7F7F-4D61-B558-C1A6695BB638}");
const Guid FACTORY2 = guidFromText("{91C3D2EE-C701-4F35-91A6-094DC7E05976}");
const Guid PLUGIN = guidFromText("{2B0DFC7E-A539-49CD-B72D-32FF9DF0D9E4}");
const Guid PLUGIN2 = guidFromText("{1E07E3E8-8118-457F-A63C-D4F282A0F519}");
const Guid LEGACY = guidFromText("{0B471002-5627-4D46-984E-C0DC79D0AD35}");
const Guid HOST_SERVICES = guidFromText("{4F1B532F-3C46-4927-A498-614867425BE7}");
const Guid HOST_AUX = guidFromText("{87CCD426-71D7-414E-A9A6-5ADCA81C7420}");
}  // namespace iid

RawEvent makeEvent(int32_t timestamp, int32_t type, int32_t pin, int32_t size, const void* value,
                   size_t valueBytes) {
    RawEvent record;
    record.set32(event::TIMESTAMP, timestamp);
    record.set32(event::TYPE, type);
    record.set32(event::PIN, pin);
    record.set32(event::SIZE, size);
    if (value != nullptr)
        std::memcpy(record.bytes + event::INLINE_VALUE, value, std::min<size_t>(valueBytes, 8));
    return record;
}

const void* linkEvents(std::vector<RawEvent>& records) {
    for (size_t i = 0; i + 1 < records.size(); ++i) records[i].setPointer(event::NEXT, records[i + 1].bytes);
    if (records.empty()) return nullptr;
    records.back().setPointer(event::NEXT, nullptr);
    return records.front().bytes;
}

}  // namespace kvx::conformance
