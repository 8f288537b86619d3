-- SPDX-License-Identifier: MIT
-- Ardour's headless session tool plays an LV2 instrument live: a MIDI track with the plug-in,
-- monitoring its input, fed and recorded by JACK clients the shell step starts.
-- Usage: ardour7-lua play_instrument.lua SESSION_DIR PLUGIN_URI SHELL_STEP
-- SHELL_STEP runs with the track's ports in KVX_TRACK_MIDI_IN and KVX_TRACK_AUDIO_OUT (Ardour's
-- names, without the JACK client's; the outputs separated by newlines); its exit status becomes this script's.
local dir, uri, step = arg[1], arg[2], arg[3]
assert(dir and uri and step, "usage: play_instrument.lua SESSION_DIR PLUGIN_URI SHELL_STEP")

local function fail(message)
    io.stderr:write("play_instrument: " .. message .. "\n")
    os.exit(3)
end

AudioEngine:set_backend("JACK", "", "")
local session = create_session(dir, "kvx", 48000)
if not session then fail("no session in " .. dir .. " (no JACK server to run on?)") end
print("play_instrument: " .. AudioEngine:current_backend_name() .. " at " .. session:nominal_sample_rate()
      .. " Hz, buffer " .. session:get_block_size())

local tracks = session:new_midi_track(ARDOUR.ChanCount(ARDOUR.DataType("midi"), 1),
                                      ARDOUR.ChanCount(ARDOUR.DataType("audio"), 2),
                                      true, ARDOUR.PluginInfo(), nil, nil, 1, "kvx",
                                      ARDOUR.PresentationInfo.max_order, ARDOUR.TrackMode.Normal, true)
local track = tracks:front()
if not track or track:isnil() then fail("no MIDI track") end

local plugin = ARDOUR.LuaAPI.new_plugin(session, uri, ARDOUR.PluginType.LV2, "")
if plugin:isnil() then fail("Ardour does not load " .. uri) end
if track:add_processor_by_index(plugin, 0, nil, true) ~= 0 then fail("the track refuses " .. uri) end
track:monitoring_control():set_value(ARDOUR.MonitorChoice.MonitorInput, PBD.GroupControlDisposition.NoGroup)

local midi_in = track:input():midi(0)
local outputs = track:output()
local audio_out = {}
for i = 0, outputs:n_ports():n_audio() - 1 do audio_out[#audio_out + 1] = outputs:audio(i):name() end
if midi_in:isnil() or #audio_out == 0 then fail("the track has no MIDI input or no audio output") end
sleep(1) -- let the engine run the new track before JACK clients connect to it
local shell = "KVX_TRACK_MIDI_IN='" .. midi_in:name() .. "' KVX_TRACK_AUDIO_OUT='"
              .. table.concat(audio_out, "\n") .. "' " .. step
local ok, how, status = os.execute(shell)
close_session()
print("play_instrument: shell step " .. tostring(how) .. " " .. tostring(status))
quit()
