// SPDX-License-Identifier: Zlib
#include "platform/console_visibility.hpp"

bool console_is_fresh_and_seen(const ConsoleFacts& facts) {
  return facts.cursor_at_top_left && facts.has_window && facts.station_visible &&
         !facts.started_hidden;
}

bool terminal_takes_cursor_query(bool term_set, const std::string& term) {
  return term_set && !term.empty() && term != "dumb";
}
