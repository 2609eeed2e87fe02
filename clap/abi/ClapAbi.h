// The CLAP interface as the plug-in and its tests use it: the CLAP 1.1
// headers (Debian's dpf-source, on the include path) and, declared here,
// what CLAP 1.2 added that those headers lack. CLAP keeps its ABI within
// 1.x, so a module built against 1.1 loads in 1.2 hosts and offers these
// extensions to the hosts that ask for them by id.
#pragma once

#include <clap/entry.h>
#include <clap/events.h>
#include <clap/ext/audio-ports.h>
#include <clap/ext/gui.h>
#include <clap/ext/latency.h>
#include <clap/ext/params.h>
#include <clap/ext/state.h>
#include <clap/ext/thread-check.h>
#include <clap/ext/timer-support.h>
#include <clap/host.h>
#include <clap/plugin-factory.h>
#include <clap/plugin-features.h>
#include <clap/plugin.h>
#include <clap/process.h>
#include <clap/stream.h>

#ifdef __cplusplus
extern "C" {
#endif

// clap.params: an enumeration (stepped, a text for every whole value).
enum { CLAP_PARAM_IS_ENUM = 1 << 16 };

// clap.render: whether the host renders in real time or offline.
static CLAP_CONSTEXPR const char CLAP_EXT_RENDER[] = "clap.render";
enum { CLAP_RENDER_REALTIME = 0, CLAP_RENDER_OFFLINE = 1 };
typedef int32_t clap_plugin_render_mode;
typedef struct clap_plugin_render {
  // main thread
  bool(CLAP_ABI* has_hard_realtime_requirement)(const clap_plugin_t* plugin);
  // main thread
  bool(CLAP_ABI* set)(const clap_plugin_t* plugin, clap_plugin_render_mode mode);
} clap_plugin_render_t;

// clap.tail: frames of output after the input fell silent.
static CLAP_CONSTEXPR const char CLAP_EXT_TAIL[] = "clap.tail";
typedef struct clap_plugin_tail {
  // main and audio thread
  uint32_t(CLAP_ABI* get)(const clap_plugin_t* plugin);
} clap_plugin_tail_t;

// clap.audio-ports-activation: the host switches ports on and off.
static CLAP_CONSTEXPR const char CLAP_EXT_AUDIO_PORTS_ACTIVATION[] = "clap.audio-ports-activation";
typedef struct clap_plugin_audio_ports_activation {
  // main thread
  bool(CLAP_ABI* can_activate_while_processing)(const clap_plugin_t* plugin);
  // main thread when inactive, audio thread when the above allows it
  bool(CLAP_ABI* set_active)(const clap_plugin_t* plugin, bool is_input, uint32_t port_index,
                             bool is_active, uint32_t sample_size);
} clap_plugin_audio_ports_activation_t;

// clap.posix-fd-support: the host watches file descriptors for the editor.
static CLAP_CONSTEXPR const char CLAP_EXT_POSIX_FD_SUPPORT[] = "clap.posix-fd-support";
enum { CLAP_POSIX_FD_READ = 1 << 0, CLAP_POSIX_FD_WRITE = 1 << 1, CLAP_POSIX_FD_ERROR = 1 << 2 };
typedef uint32_t clap_posix_fd_flags_t;
typedef struct clap_plugin_posix_fd_support {
  // main thread
  void(CLAP_ABI* on_fd)(const clap_plugin_t* plugin, int fd, clap_posix_fd_flags_t flags);
} clap_plugin_posix_fd_support_t;
typedef struct clap_host_posix_fd_support {
  // main thread
  bool(CLAP_ABI* register_fd)(const clap_host_t* host, int fd, clap_posix_fd_flags_t flags);
  bool(CLAP_ABI* modify_fd)(const clap_host_t* host, int fd, clap_posix_fd_flags_t flags);
  bool(CLAP_ABI* unregister_fd)(const clap_host_t* host, int fd);
} clap_host_posix_fd_support_t;

// clap.gain-adjustment-metering/0 (draft): the gain the plug-in applies now.
static CLAP_CONSTEXPR const char CLAP_EXT_GAIN_ADJUSTMENT_METERING[] =
    "clap.gain-adjustment-metering/0";
typedef struct clap_plugin_gain_adjustment_metering {
  // audio thread: the current adjustment in dB, negative for a reduction
  double(CLAP_ABI* get)(const clap_plugin_t* plugin);
} clap_plugin_gain_adjustment_metering_t;

// clap.state-context/2: what a state is saved for.
static CLAP_CONSTEXPR const char CLAP_EXT_STATE_CONTEXT[] = "clap.state-context/2";
enum {
  CLAP_STATE_CONTEXT_FOR_PRESET = 1,
  CLAP_STATE_CONTEXT_FOR_DUPLICATE = 2,
  CLAP_STATE_CONTEXT_FOR_PROJECT = 3,
};
typedef uint32_t clap_plugin_state_context_type;
typedef struct clap_plugin_state_context {
  // main thread
  bool(CLAP_ABI* save)(const clap_plugin_t* plugin, const clap_ostream_t* stream,
                       uint32_t context_type);
  bool(CLAP_ABI* load)(const clap_plugin_t* plugin, const clap_istream_t* stream,
                       uint32_t context_type);
} clap_plugin_state_context_t;

#ifdef __cplusplus
}
#endif
