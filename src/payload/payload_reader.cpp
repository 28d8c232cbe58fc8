#include "payload/payload_reader.hpp"

// Placeholder until the reader lands.
int read_payload(const std::string&, const std::string&, PayloadResult&) { return -2; }
