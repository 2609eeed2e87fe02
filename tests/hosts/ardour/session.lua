-- One step of the Ardour host suite, run by ardour7-lua in its own process
-- (driven by ardour_suite.py, which gives the step and paths in the
-- environment). A failed check raises an error: the process exits non-zero
-- and the driver reports the message.
io.stdout:setvbuf("no")

local step = os.getenv("KESTRUNE_STEP")
local formats = {LXVST = ARDOUR.PluginType.LXVST, LV2 = ARDOUR.PluginType.LV2}
local format = formats[os.getenv("KESTRUNE_FORMAT") or ""] or ARDOUR.PluginType.VST3
local sessionDir = os.getenv("KESTRUNE_SESSION")
local sessionName = "kestrune"
local frames = tonumber(os.getenv("KESTRUNE_FRAMES") or "48000")

local function check(condition, message)
  if not condition then error(message, 2) end
end

local function findInfo()
  for info in ARDOUR.LuaAPI.list_plugins():iter() do
    if info.name == "Kestrune" and info.type == format then return info end
  end
  error("Ardour's plug-in list has no Kestrune of this format: the scan did not index it")
end

local function kestruneTrack()
  local track = Session:route_by_name("Kestrune")
  check(not track:isnil(), "the session has no Kestrune track")
  return track:to_track()
end

-- The plug-in as loaded from a session: a processor Ardour could not load
-- stays in the session as a stand-in that passes audio through unchanged.
local function kestruneInsert()
  local proc = kestruneTrack():nth_plugin(0)
  check(not proc:isnil(), "the Kestrune track lost its plug-in")
  local insert = proc:to_insert()
  check(not insert:isnil(), "Ardour did not load the plug-in back (a stand-in took its place)")
  local plug = insert:plugin(0)
  check(plug:get_info().type == format and plug:name() == "Kestrune",
        "the track's plug-in is not Kestrune in this format")
  return proc, insert, plug
end

-- What Ardour shows for every input control, by name.
local function shownValues(proc, plug)
  local values = {}
  for j = 0, plug:parameter_count() - 1 do
    if plug:parameter_is_input(j) and plug:parameter_is_control(j) then
      local _, desc = plug:get_parameter_descriptor(j, ARDOUR.ParameterDescriptor())
      values[#values + 1] = {desc[2].label, ARDOUR.LuaAPI.get_processor_param(proc, #values, true)}
    end
  end
  return values
end

local function writeValues(path, values)
  local file = assert(io.open(path, "w"))
  for _, v in ipairs(values) do file:write(string.format("%s\t%.17g\n", v[1], v[2])) end
  file:close()
end

-- A running session: the engine processes a few blocks (and so hands the
-- plug-in what the host changed) before anything reads or saves. The
-- timeout only catches an engine that stopped.
local function settle()
  check(ARDOUR.LuaAPI.wait_for_process_callback(4, 60000), "Ardour's engine stopped processing")
end

-- Settings away from the defaults, chosen by name and range so they hold
-- whatever units and order the plug-in presents: continuous controls at
-- different fractions of their range (none at the middle, where a
-- symmetric range has its default), switches and steps at their top.
-- The bypasses and the sidechain source stay as they are (the reference
-- render has no sidechain). Values go through the plug-in's controls, the
-- path of Ardour's generic editor and automation.
local function setValues(proc, plug)
  local controls = proc:to_insert():to_automatable()
  local n = 0
  for j = 0, plug:parameter_count() - 1 do
    if plug:parameter_is_input(j) and plug:parameter_is_control(j) then
      local _, desc = plug:get_parameter_descriptor(j, ARDOUR.ParameterDescriptor())
      local d = desc[2]
      local name = string.lower(d.label)
      -- Every range rises from a slider's left end to its right end, as
      -- Ardour lists it: a reversed one leaves its bar stuck.
      check(d.lower < d.upper, string.format("Ardour lists %s's range as [%g .. %g]", d.label, d.lower, d.upper))
      if not (name:find("bypass") or name:find("sidechain")) then
        local value
        if d.toggled or d.integer_step or d.enumeration then
          value = d.upper
        else
          value = d.lower + (0.1 + 0.8 * ((n * 0.37) % 1)) * (d.upper - d.lower)
        end
        local control = controls:automation_control(
          Evoral.Parameter(ARDOUR.AutomationType.PluginAutomation, 0, j), false)
        check(not control:isnil(), "Ardour has no control for " .. d.label)
        control:set_value(value, PBD.GroupControlDisposition.NoGroup)
      end
      n = n + 1
    end
  end
  settle()
end

local function save(snapshot)
  check(Session:save_state(snapshot or "", false, false, false, false, false) == 0, "saving the session failed")
end

-- The test material: a stereo region bounced from the suite's generator, on
-- the Kestrune track, without the fades Ardour would add to its edges. The
-- generator's track is inactive, so only the bounce runs the generator: the
-- engine's own cycles would run it too, as many as happened to pass before
-- the bounce, and the material would differ from run to run.
local function addMaterial(track)
  local gen = Session:new_audio_track(2, 2, nil, 1, "Generator", -1, ARDOUR.TrackMode.Normal, true):front()
  gen:set_active(false, nil)
  local source = ARDOUR.LuaAPI.new_luaproc(Session, "Kestrune Test Signal")
  check(not source:isnil(), "the suite's test signal script was not found")
  check(gen:add_processor_by_index(source, 0, nil, true) == 0, "the test signal did not fit the track")
  local region = gen:bounce_range(0, frames, ARDOUR.InterThreadInfo(), gen:main_outs(), false, "input")
  check(not region:isnil(), "bouncing the test signal failed")
  gen:remove_processor(source, nil, true)
  Session:cfg():set_use_region_fades(false)
  region:to_audioregion():set_fade_in_active(false)
  region:to_audioregion():set_fade_out_active(false)
  track:playlist():add_region(region, Temporal.timepos_t(0), 1, false)
end

-- Renders the track through its plug-ins (not the fader or panner) into a
-- new file; prints where, for the driver.
local function bounce(name)
  local track = kestruneTrack()
  local region = track:bounce_range(0, frames, ARDOUR.InterThreadInfo(), track:main_outs(), false, name)
  check(not region:isnil(), "bouncing the track failed")
  for c = 0, 1 do
    print("BOUNCE " .. name .. " " .. c .. " " .. region:source(c):to_filesource():path())
  end
end

local function open()
  check(load_session(sessionDir, sessionName) ~= nil, "Ardour could not open the saved session")
end

-- The session plays from disk only: no track listens to the backend's
-- capture ports and the master bus does not feed its playback ports. The
-- Dummy backend gives those ports a simulated converter latency (a quarter
-- period, plus 16 frames in some processes), published to Ardour's ports
-- from its own thread some time after a session loads. Connected, it is
-- part of every route's playback offset and of the export's alignment,
-- which ardour7-export reads the moment the session is loaded: when the
-- value arrives in between, the export is cut that many frames early.
local function detachFromHardware()
  Session:master_out():output():disconnect_all(nil)
  for track in Session:get_tracks():iter() do track:input():disconnect_all(nil) end
end

local function create(withMaterial)
  check(create_session(sessionDir, sessionName, 48000) ~= nil, "Ardour could not create a session")
  local info = findInfo()
  local track = Session:new_audio_track(2, 2, nil, 1, "Kestrune", -1, ARDOUR.TrackMode.Normal, true):front()
  local proc = ARDOUR.LuaAPI.new_plugin(Session, info.unique_id, info.type, "")
  check(not proc:isnil(), "Ardour could not instantiate Kestrune")
  check(track:add_processor_by_index(proc, 0, nil, true) == 0, "Kestrune did not fit a stereo track")
  if withMaterial then addMaterial(track) end
  detachFromHardware()
  return kestruneInsert()
end

local steps = {}

-- A session with the plug-in at non-default values; what Ardour shows is
-- written for the reload to compare.
function steps.setup()
  local proc, _, plug = create(true)
  setValues(proc, plug)
  writeValues(os.getenv("KESTRUNE_VALUES"), shownValues(proc, plug))
  save()
end

-- The saved session opened again: the plug-in is back with the values the
-- host saved, and saving it again keeps them (snapshot "reloaded").
function steps.reload()
  open()
  local proc, _, plug = kestruneInsert()
  writeValues(os.getenv("KESTRUNE_VALUES"), shownValues(proc, plug))
  save("reloaded")
end

-- Every factory preset through the call the Presets menu makes; each
-- loaded state is saved as a snapshot for the driver to compare.
function steps.presets()
  local _, _, plug = create(false)
  local count = 0
  -- LV2 presets in the plug-in's bundle are its factory presets, which the
  -- user-only list leaves out; the VST3 files are in the user's folder.
  local userOnly = format ~= ARDOUR.PluginType.LV2
  -- Each by its record: the VST3 programs carry the same labels.
  for record in plug:get_info():get_presets(userOnly):iter() do
    check(record.valid, "Ardour lists an invalid preset " .. record.label)
    check(plug:load_preset(record), "Ardour failed to load preset " .. record.label)
    print("PRESET " .. record.label)
    save("preset " .. record.label)
    count = count + 1
  end
  check(count > 0, "Ardour lists no factory presets")
  save()
end

-- The plug-in's own programs (Ardour's factory entries, not the user's
-- files): each listed, picked and the session saved after it.
function steps.programs()
  local _, _, plug = create(false)
  -- Program 0, Default, is picked last: it has to bring the defaults back.
  local names = {"Drum Bus Glue", "Vocal Levelling", "Parallel Smash", "Bass Ducked by Kick",
                 "Gentle Master", "SLAM", "Default"}
  for index, name in ipairs(names) do
    -- Ardour numbers VST2 programs in their labels.
    local record = plug:preset_by_label(name)
    if not (record and record.valid) then record = plug:preset_by_label((index % #names) .. " - " .. name) end
    check(record and record.valid and not record.user, "Ardour lists no program " .. name)
    check(plug:load_preset(record), "Ardour failed to load program " .. name)
    print("PROGRAM " .. record.label)
    save("program " .. record.label)
  end
  save()
end

-- Host bypass (the processor's bypass in Ardour's mixer strip) set on the
-- plug-in at non-default values, then bounced, and the session saved bypassed.
function steps.bypass()
  local proc, insert, plug = create(true)
  setValues(proc, plug)
  insert:enable(false)
  settle()
  check(not insert:enabled(), "Ardour did not bypass the plug-in")
  bounce("bypassed")
  save()
end

-- The bypassed session opened again: still bypassed, bounced again, then
-- the bypass is lifted, bounced once more ("lifted": the compressor ran
-- through the bypassed bounces and the silence after them, as it does for a
-- musician, so only the driver's looser check applies) and saved.
function steps.unbypass()
  open()
  local _, insert = kestruneInsert()
  check(not insert:enabled(), "the host bypass was lost on reload")
  bounce("reloaded_bypassed")
  insert:enable(true)
  settle()
  check(insert:enabled(), "Ardour did not lift the bypass")
  bounce("lifted")
  save()
end

-- The session saved with the bypass lifted, opened again: active, and
-- bounced from a fresh instance, so the bounce owes nothing to how much
-- audio Ardour ran before it.
function steps.active()
  open()
  local _, insert = kestruneInsert()
  check(insert:enabled(), "the lifted bypass came back on reload")
  bounce("active")
end

local run = steps[step]
check(run ~= nil, "unknown step " .. tostring(step))
run()
print("STEP " .. step .. " done")
