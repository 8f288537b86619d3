// MpBase2: sample-accurate block processing and the sleep-aware wrapper.
#include "plugin/mp_base2.h"

#include "plugin/mp_pin_base.h"

namespace kvx {

namespace {

bool isPinEvent(int32_t type) noexcept { return type >= EV_PIN_VALUE && type <= EV_PIN_OTHER; }

bool causesPinChanges(int32_t type) noexcept { return type >= EV_PIN_VALUE && type <= EV_STREAM_END; }

// An event at or past the end of the block counts as one at the end: never delivered, and the
// stretch before it stops at the block's last sample.
int32_t eventTime(const HostEvent* event, int32_t sampleCount) noexcept {
    return event->timestamp < sampleCount ? event->timestamp : sampleCount;
}

}  // namespace

void MpBase2::process(int32_t sampleCount, const HostEvent* events) noexcept {
    if (sampleCount < 0) sampleCount = 0;
    blockOffset = 0;
    int32_t remaining = sampleCount;
    if (events == nullptr) {
        runActive(sampleCount);
        return;
    }
    const HostEvent* head = events;
    while (head != nullptr) {
        // A time before blockOffset (out of order, or negative) gives no stretch: the event is
        // handled at the current position. Compared before subtracting: a time near INT_MIN
        // minus blockOffset would overflow.
        const int32_t time = eventTime(head, sampleCount);
        if (time > blockOffset) {
            const int32_t span = time - blockOffset;
            sleepAllowed = false;
            runActive(span);
            sleepAllowed = true;
            remaining -= span;
            if (remaining == 0) return;
            blockOffset += span;
        }
        const HostEvent* end = head->next;
        while (end != nullptr && eventTime(end, sampleCount) == blockOffset) end = end->next;
        deliverGroup(head, end);
        head = end;
    }
    runActive(remaining);
}

void MpBase2::deliverGroup(const HostEvent* first, const HostEvent* end) noexcept {
    bool pinChanges = false;
    for (const HostEvent* event = first; event != end; event = event->next) {
        if (!isPinEvent(event->type)) continue;
        pinChanges |= causesPinChanges(event->type);
        if (MpPinBase* pin = findPin(event->pinId)) pin->decodeEvent(event);
    }
    for (const HostEvent* event = first; event != end; event = event->next) {
        if (isPinEvent(event->type)) {
            if (MpPinBase* pin = findPin(event->pinId)) pin->notifyEvent(event);
        } else if (event->type == EV_GRAPH_BEGIN) {
            handleGraphStart();
        }
    }
    if (pinChanges) onPinChanges();
    for (const HostEvent* event = first; event != end; event = event->next) {
        if (!isPinEvent(event->type)) continue;
        if (MpPinBase* pin = findPin(event->pinId)) pin->finishEvent(event);
    }
}

void MpBase2::streamingChanged(bool isStreaming) noexcept {
    streamingCount += isStreaming ? 1 : -1;
    if (streamingCount != 0 && sleepPolicy != 1)
        activeRoutine = moduleRoutine;
    else
        activeRoutine = &MpBase2::sleepAwareRoutine;
}

void MpBase2::sleepAwareRoutine(int32_t sampleCount) noexcept {
    const int32_t saved = blockOffset;
    int32_t remaining = sampleCount;
    for (;;) {
        bool sleepy = sleepPolicy == -1 ? streamingCount == 0 : sleepPolicy == 1;
        if (!sleepy) {
            activeRoutine = moduleRoutine;
            if (remaining > 0) (this->*moduleRoutine)(remaining);
            break;
        }
        if (samplesBeforeSleep <= 0) {
            if (sleepAllowed) {
                hostRequestSleep();
                break;
            }
            samplesBeforeSleep = remaining;  // a stretch that ends at an event runs whole
        }
        if (remaining == 0) break;
        int32_t n = samplesBeforeSleep < remaining ? samplesBeforeSleep : remaining;
        // Lowered before the call: a countdown the host stores meanwhile replaces this value.
        samplesBeforeSleep -= n;
        remaining -= n;
        (this->*moduleRoutine)(n);
        blockOffset += n;
    }
    blockOffset = saved;
}

void MpBase2::installModuleRoutine(SubBlockRoutine routine) noexcept {
    if (activeRoutine == moduleRoutine) activeRoutine = routine;
    moduleRoutine = routine;
}

}  // namespace kvx
