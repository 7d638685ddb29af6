// The writers: each renders a form's record as text (byte for byte the program's lines) or
// as one JSON object on one line, through the sink. The fast listing of a network's
// addresses is here too.
#pragma once

#include <cstdint>

#include "core/sink.hpp"
#include "forms/forms.hpp"
#include "forms/zones.hpp"

namespace maskery {

// How a result is written: the text made for eyes, or one JSON object per result.
enum class Format : std::uint8_t { text, json };

void write_result(const NetworkReport& r, Format f, Sink& out);
void write_result(const HostsReport& r, Format f, Sink& out);
void write_result(const PtrRecord& r, Format f, Sink& out);
void write_result(const StfReport& r, Format f, Sink& out);
void write_result(const ZonesReport& r, Format f, Sink& out);

// The lines of a listing: text (one address and a newline each) or the elements of a JSON
// array (each address quoted, separated by commas).
enum class ListStyle : std::uint8_t { lines, json_elements };

// Every address from first to last, both included. Stops at last even when last is the top
// of the address space. Allocates nothing, whatever the number of addresses.
void list_addresses(const Address& first, const Address& last, Sink& out,
                    ListStyle style = ListStyle::lines);

}  // namespace maskery
