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

// clap.preset-load/2: the host loads a preset the discovery factory listed.
static CLAP_CONSTEXPR const char CLAP_EXT_PRESET_LOAD[] = "clap.preset-load/2";
static CLAP_CONSTEXPR const char CLAP_EXT_PRESET_LOAD_COMPAT[] = "clap.preset-load.draft/2";
typedef struct clap_plugin_preset_load {
  // main thread
  bool(CLAP_ABI* from_location)(const clap_plugin_t* plugin, uint32_t location_kind,
                                const char* location, const char* load_key);
} clap_plugin_preset_load_t;
typedef struct clap_host_preset_load {
  // main thread: from_location failed
  void(CLAP_ABI* on_error)(const clap_host_t* host, uint32_t location_kind, const char* location,
                           const char* load_key, int32_t os_error, const char* msg);
  // main thread: a preset was loaded
  void(CLAP_ABI* loaded)(const clap_host_t* host, uint32_t location_kind, const char* location,
                         const char* load_key);
} clap_host_preset_load_t;

// clap.preset-discovery-factory/2: the module's presets, for a host's
// preset browser. A provider declares where its presets are; the host then
// asks it for each location's presets.
static CLAP_CONSTEXPR const char CLAP_PRESET_DISCOVERY_FACTORY_ID[] =
    "clap.preset-discovery-factory/2";
static CLAP_CONSTEXPR const char CLAP_PRESET_DISCOVERY_FACTORY_ID_COMPAT[] =
    "clap.preset-discovery-factory/draft-2";
enum {
  CLAP_PRESET_DISCOVERY_LOCATION_FILE = 0,
  // Inside the module itself; the location is then null.
  CLAP_PRESET_DISCOVERY_LOCATION_PLUGIN = 1,
};
enum {
  CLAP_PRESET_DISCOVERY_IS_FACTORY_CONTENT = 1 << 0,
  CLAP_PRESET_DISCOVERY_IS_USER_CONTENT = 1 << 1,
  CLAP_PRESET_DISCOVERY_IS_DEMO_CONTENT = 1 << 2,
  CLAP_PRESET_DISCOVERY_IS_FAVORITE = 1 << 3,
};
typedef uint64_t clap_timestamp_t;  // seconds since the Unix epoch, 0 unknown
typedef struct clap_universal_plugin_id {
  const char* abi;  // "clap", "vst3", ...
  const char* id;
} clap_universal_plugin_id_t;
// The host's receiver of one location's presets; not thread-safe.
typedef struct clap_preset_discovery_metadata_receiver {
  void* receiver_data;
  void(CLAP_ABI* on_error)(const struct clap_preset_discovery_metadata_receiver* receiver,
                           int32_t os_error, const char* error_message);
  // Before each preset's other data; false: send nothing more.
  bool(CLAP_ABI* begin_preset)(const struct clap_preset_discovery_metadata_receiver* receiver,
                               const char* name, const char* load_key);
  void(CLAP_ABI* add_plugin_id)(const struct clap_preset_discovery_metadata_receiver* receiver,
                                const clap_universal_plugin_id_t* plugin_id);
  void(CLAP_ABI* set_soundpack_id)(const struct clap_preset_discovery_metadata_receiver* receiver,
                                   const char* soundpack_id);
  void(CLAP_ABI* set_flags)(const struct clap_preset_discovery_metadata_receiver* receiver,
                            uint32_t flags);
  void(CLAP_ABI* add_creator)(const struct clap_preset_discovery_metadata_receiver* receiver,
                              const char* creator);
  void(CLAP_ABI* set_description)(const struct clap_preset_discovery_metadata_receiver* receiver,
                                  const char* description);
  void(CLAP_ABI* set_timestamps)(const struct clap_preset_discovery_metadata_receiver* receiver,
                                 clap_timestamp_t creation_time, clap_timestamp_t modification_time);
  void(CLAP_ABI* add_feature)(const struct clap_preset_discovery_metadata_receiver* receiver,
                              const char* feature);
  void(CLAP_ABI* add_extra_info)(const struct clap_preset_discovery_metadata_receiver* receiver,
                                 const char* key, const char* value);
} clap_preset_discovery_metadata_receiver_t;
typedef struct clap_preset_discovery_filetype {
  const char* name;
  const char* description;
  const char* file_extension;  // without the dot
} clap_preset_discovery_filetype_t;
typedef struct clap_preset_discovery_location {
  uint32_t flags;
  const char* name;
  uint32_t kind;
  const char* location;  // null for CLAP_PRESET_DISCOVERY_LOCATION_PLUGIN
} clap_preset_discovery_location_t;
typedef struct clap_preset_discovery_soundpack {
  uint32_t flags;
  const char* id;
  const char* name;
  const char* description;
  const char* homepage_url;
  const char* vendor;
  const char* image_path;
  clap_timestamp_t release_timestamp;
} clap_preset_discovery_soundpack_t;
typedef struct clap_preset_discovery_provider_descriptor {
  clap_version_t clap_version;
  const char* id;
  const char* name;
  const char* vendor;
} clap_preset_discovery_provider_descriptor_t;
typedef struct clap_preset_discovery_provider {
  const clap_preset_discovery_provider_descriptor_t* desc;
  void* provider_data;
  // Declares the locations (and file types, sound packs) to the indexer.
  bool(CLAP_ABI* init)(const struct clap_preset_discovery_provider* provider);
  void(CLAP_ABI* destroy)(const struct clap_preset_discovery_provider* provider);
  // One location's presets, into the receiver.
  bool(CLAP_ABI* get_metadata)(const struct clap_preset_discovery_provider* provider,
                               uint32_t location_kind, const char* location,
                               const clap_preset_discovery_metadata_receiver_t* metadata_receiver);
  const void*(CLAP_ABI* get_extension)(const struct clap_preset_discovery_provider* provider,
                                       const char* extension_id);
} clap_preset_discovery_provider_t;
// The host's side; not thread-safe.
typedef struct clap_preset_discovery_indexer {
  clap_version_t clap_version;
  const char* name;
  const char* vendor;
  const char* url;
  const char* version;
  void* indexer_data;
  bool(CLAP_ABI* declare_filetype)(const struct clap_preset_discovery_indexer* indexer,
                                   const clap_preset_discovery_filetype_t* filetype);
  bool(CLAP_ABI* declare_location)(const struct clap_preset_discovery_indexer* indexer,
                                   const clap_preset_discovery_location_t* location);
  bool(CLAP_ABI* declare_soundpack)(const struct clap_preset_discovery_indexer* indexer,
                                    const clap_preset_discovery_soundpack_t* soundpack);
  const void*(CLAP_ABI* get_extension)(const struct clap_preset_discovery_indexer* indexer,
                                       const char* extension_id);
} clap_preset_discovery_indexer_t;
// All three thread-safe. create makes no indexer call; the provider calls
// the indexer only from its init on.
typedef struct clap_preset_discovery_factory {
  uint32_t(CLAP_ABI* count)(const struct clap_preset_discovery_factory* factory);
  const clap_preset_discovery_provider_descriptor_t*(CLAP_ABI* get_descriptor)(
      const struct clap_preset_discovery_factory* factory, uint32_t index);
  const clap_preset_discovery_provider_t*(CLAP_ABI* create)(
      const struct clap_preset_discovery_factory* factory,
      const clap_preset_discovery_indexer_t* indexer, const char* provider_id);
} clap_preset_discovery_factory_t;

#ifdef __cplusplus
}
#endif
