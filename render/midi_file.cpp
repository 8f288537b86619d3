// SPDX-License-Identifier: MIT
// Reading a Standard MIDI File through libsmf.
#include "render/midi_file.h"

#include <smf.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <iterator>
#include <limits>
#include <memory>
#include <span>
#include <string>

#include "host/midi_note_event.h"
#include "render/error.h"

namespace kvx::render {

namespace {

// libsmf reports what it dislikes through GLib's log: the render refuses the file instead and
// says so in one line.
void noteComplaint(const gchar*, GLogLevelFlags level, const gchar*, gpointer complained) {
    if ((level & (G_LOG_LEVEL_ERROR | G_LOG_LEVEL_CRITICAL | G_LOG_LEVEL_WARNING)) != 0)
        *static_cast<bool*>(complained) = true;
}

uint32_t bigEndian(const std::string& bytes, size_t at) {
    uint32_t value = 0;
    for (size_t i = 0; i < 4; ++i) value = value << 8 | static_cast<uint8_t>(bytes[at + i]);
    return value;
}

// libsmf asserts (and so aborts) on a track that ends before its end-of-track event: check the
// chunks first. The header chunk, then chunks whose lengths lie within the file; every track
// ends with its end-of-track event (FF 2F 00), as a Standard MIDI File must.
bool wellFramed(const std::string& bytes) {
    if (bytes.size() < 14 || bytes.size() > static_cast<size_t>(std::numeric_limits<int>::max()) ||
        bytes.compare(0, 4, "MThd") != 0)
        return false;
    const uint32_t headerLength = bigEndian(bytes, 4);
    if (headerLength < 6 || bytes.size() - 8 < headerLength) return false;
    size_t at = 8 + headerLength;
    while (at < bytes.size()) {
        if (bytes.size() - at < 8) return false;
        const uint32_t length = bigEndian(bytes, at + 4);
        if (bytes.size() - at - 8 < length) return false;
        if (bytes.compare(at, 4, "MTrk") == 0 &&
            (length < 3 || bytes.compare(at + 8 + length - 3, 3, std::string("\xFF\x2F\x00", 3)) != 0))
            return false;
        at += 8 + length;
    }
    return true;
}

struct SmfDeleter {
    void operator()(smf_t* smf) const { smf_delete(smf); }
};

}  // namespace

int64_t sampleAt(double seconds, int32_t rate) { return std::llround(seconds * rate); }

MidiFileNotes readMidiBytes(const std::string& bytes, const std::string& named, int32_t rate) {
    bool complained = !wellFramed(bytes);
    std::unique_ptr<smf_t, SmfDeleter> smf;
    if (!complained) {
        const GLogFunc previous = g_log_set_default_handler(noteComplaint, &complained);
        smf.reset(smf_load_from_memory(bytes.data(), static_cast<int>(bytes.size())));
        g_log_set_default_handler(previous, nullptr);
    }
    if (!smf || complained)
        throw RenderError(named + ": not a Standard MIDI File libsmf can read (missing, truncated or malformed)");
    MidiFileNotes notes;
    notes.rate = rate;
    smf_rewind(smf.get());
    for (smf_event_t* event = smf_get_next_event(smf.get()); event != nullptr;
         event = smf_get_next_event(smf.get())) {
        const int64_t sample = sampleAt(event->time_seconds, rate);
        notes.endSample = std::max(notes.endSample, sample);
        if (smf_event_is_metadata(event) || event->midi_buffer_length == 0) continue;
        const std::span<const uint8_t> bytes(event->midi_buffer, event->midi_buffer_length);
        if (const auto note = host::noteEventFromMidi(bytes, 0)) notes.events.push_back({sample, *note});
    }
    return notes;
}

MidiFileNotes readMidiFile(const std::string& path, int32_t rate) {
    std::ifstream in(path, std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (!in.eof() && !in.good()) bytes.clear();
    return readMidiBytes(bytes, "--midi " + path, rate);
}

}  // namespace kvx::render
