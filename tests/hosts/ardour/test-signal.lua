ardour {
	["type"]    = "dsp",
	name        = "Kestrune Test Signal",
	category    = "Utility",
	license     = "MIT",
	author      = "Kestrune",
	description = [[Test material for the Ardour host suite: bursts at changing levels, different in each channel]]
}

function dsp_ioconfig ()
	return { { audio_in = 2, audio_out = 2 } }
end

local rate = 48000
local n = 0

function dsp_init (r)
	rate = r
end

-- Tone bursts of 0.1 s whose level steps every burst, so the compressor
-- attacks and releases; the right channel runs at another pitch and phase.
function dsp_run (ins, outs, n_samples)
	for c = 1, 2 do
		local a = outs[c]:array()
		for s = 1, n_samples do
			local t = n + s - 1
			local burst = math.floor(t / (rate / 10))
			local level = 0.05 + 0.9 * ((burst * 7 + c) % 5) / 4
			local f = c == 1 and 110 or 173
			a[s] = level * math.sin(2 * math.pi * f * t / rate + c)
		end
	end
	n = n + n_samples
end
