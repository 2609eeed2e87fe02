// The parameter events both sides of CLAP make: the plug-in's output events
// and the host library's input events. Global (no note, port, channel or
// key: -1 each), in the core event space unless told otherwise.
#pragma once

#include <type_traits>

#include "ClapAbi.h"

inline clap_event_header ClapEventHeader(uint32_t size, uint16_t type, uint32_t time, uint32_t flags,
                                         uint16_t space = CLAP_CORE_EVENT_SPACE_ID) {
  clap_event_header header = {};
  header.size = size;
  header.time = time;
  header.space_id = space;
  header.type = type;
  header.flags = flags;
  return header;
}

// PARAM_VALUE and PARAM_MOD share their layout: `value` is the value or the
// modulation amount.
template <typename Event>
Event ClapParamEvent(uint16_t type, clap_id id, double value, uint32_t time, uint32_t flags = 0,
                     void* cookie = nullptr, uint16_t space = CLAP_CORE_EVENT_SPACE_ID) {
  Event event = {};
  event.header = ClapEventHeader(sizeof event, type, time, flags, space);
  event.param_id = id;
  event.cookie = cookie;
  event.note_id = -1;
  event.port_index = -1;
  event.channel = -1;
  event.key = -1;
  if constexpr (std::is_same<Event, clap_event_param_mod>::value)
    event.amount = value;
  else
    event.value = value;
  return event;
}

inline clap_event_param_gesture ClapGestureEvent(uint16_t type, clap_id id, uint32_t time,
                                                 uint32_t flags = 0) {
  clap_event_param_gesture event = {};
  event.header = ClapEventHeader(sizeof event, type, time, flags);
  event.param_id = id;
  return event;
}
