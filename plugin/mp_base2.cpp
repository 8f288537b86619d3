// SPDX-License-Identifier: MIT
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
            sleepState.allowSleep(false);
            runActive(span);
            sleepState.allowSleep(true);
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
    chooseActiveRoutine(sleepState.streamingChanged(isStreaming));
}

void MpBase2::sleepAwareRoutine(int32_t sampleCount) noexcept {
    ScopedBlockPosition position(*this, 0);
    int32_t remaining = sampleCount;
    for (;;) {
        const SleepStep step = sleepState.nextStep(remaining);
        switch (step.kind) {
            case SleepStep::Run:
                remaining -= step.samples;
                (this->*moduleRoutine)(step.samples);
                position.advance(step.samples);
                break;
            case SleepStep::HandOver:
                chooseActiveRoutine(Route::Direct);
                if (remaining > 0) (this->*moduleRoutine)(remaining);
                return;
            case SleepStep::RequestSleep:
                hostRequestSleep();
                return;
            case SleepStep::Done:
                return;
        }
    }
}

void MpBase2::installModuleRoutine(SubBlockRoutine routine) noexcept {
    // Only a direct route follows the new routine; the wrapper, if in front, stays there.
    const bool direct = activeRoutine == moduleRoutine;
    moduleRoutine = routine;
    if (direct) chooseActiveRoutine(Route::Direct);
}

}  // namespace kvx
