#include "extract/archive_extraction.hpp"

// Placeholder until the extraction lands.
int extract_archive(const char*, const std::string&) { return k_extract_not_an_archive; }
