// The lines of a regular file, handled in pieces on the list threads and handed over in the
// order of the file: a search of a large log on both cores.
//
// Piece p holds the lines that start in [from + p * size, from + (p + 1) * size) (the last
// piece: every line from its start on). It reads from the byte before its first, so that
// the line running through that byte, the piece before's, is known and passed over, and it
// reads at most max_line bytes past its end: enough to see its last line whole, or cut
// as a reader of the whole file would see it, and never more, however long a line runs
// (a piece inside one line of a gigabyte reads 1 + size + max_line bytes and holds nothing).
// Every line is thus handed to exactly one piece, and no line is missed.
//
// The handler, with Slot its type for the results of one piece:
//   void clear(Slot&)                                      before a piece, on its thread
//   bool line(Slot&, std::uint64_t number, LineReader::Line&)
//                                   each line of the piece in order, numbered from 1 within
//                                   the piece; false stops the piece there
//   std::size_t window(Slot&, std::uint64_t lines, const char* b, const char* e)
//                                   optional: whole lines at once, [b, e), each ending in a
//                                   newline and none too long, after lines lines of the
//                                   piece; returns how many it took (where a line may be too
//                                   long, or just after one, lines go one at a time to line)
//   void emit(Slot&, std::uint64_t lines_before)           in the order of the pieces, one
//                                   at a time: lines_before is the count of the file's lines
//                                   before the piece's first
// A read error stops its piece; it is thrown, as std::system_error, once the lines before it
// are emitted.
#pragma once

#include <sys/types.h>
#include <unistd.h>

#include <concepts>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>
#include <optional>
#include <system_error>

#include "core/line_reader.hpp"
#include "lists/ordered_pipeline.hpp"

namespace maskery {

// Reads fd from offset from to its end; leaves it positioned after the last byte read.
template <class Slot, class Handler>
void for_each_line_piece(int fd, off_t from, off_t to, std::size_t size, std::size_t max_line,
                         Handler& handler) {
  struct Piece {
    Slot slot;
    std::uint64_t lines = 0;
    int error = 0;
    off_t end = 0;  // where the last piece stopped reading
  };
  static constexpr bool kWindows = requires(Handler h, Slot s, const char* c) {
    { h.window(s, std::uint64_t{}, c, c) } -> std::same_as<std::size_t>;
  };
  struct Stages {
    struct Worker {
      std::optional<LineReader> reader;
    };
    int fd;
    off_t from;
    std::size_t size, max_line, pieces;
    Handler& handler;
    std::uint64_t before = 0;
    off_t end = 0;

    void make(std::size_t p, Piece& piece, Worker& w) {
      handler.clear(piece.slot);
      piece.lines = 0;
      piece.error = 0;
      const bool last = p + 1 == pieces;
      const off_t first = from + static_cast<off_t>(p * size);
      const off_t stop =
          last ? std::numeric_limits<off_t>::max() : first + static_cast<off_t>(size);
      const off_t at = p == 0 ? first : first - 1;
      const std::size_t limit =
          last ? std::numeric_limits<std::size_t>::max() : 1 + size + max_line;
      if (!w.reader) w.reader.emplace(fd, max_line);
      LineReader& reader = *w.reader;
      reader.restart(at, limit);
      try {
        read(piece, reader, p != 0, stop);
      } catch (const std::system_error& e) {
        piece.error = e.code().value();
      }
      piece.end = reader.position();
    }
    // The lines that start before stop, from the reader's start on, or from the line after
    // the first with foreign (the line through the byte before the piece is the piece
    // before's).
    void read(Piece& piece, LineReader& reader, bool foreign, off_t stop) {
      LineReader::Line line;
      bool whole = true;  // no line was handed over cut just before: a window may follow
      if (foreign) {
        if (!reader.next(line)) return;
        whole = !line.cut;
      }
      for (;;) {
        if constexpr (kWindows) {
          const char *wb, *we;
          // Whole lines, none of them too long: all at once.
          if (whole && reader.window(wb, we) && static_cast<std::size_t>(we - wb) <= max_line) {
            const off_t at = reader.offset_of(wb);
            if (at >= stop) return;
            const char* cut = we;
            if (reader.offset_of(we) > stop) {  // past the piece: up to its last line's end
              const char* x = wb + (stop - 1 - at);
              cut =
                  static_cast<const char*>(std::memchr(x, '\n', static_cast<std::size_t>(we - x))) +
                  1;
            }
            piece.lines += handler.window(piece.slot, piece.lines, wb, cut);
            reader.consume(cut);
            if (cut != we) return;
            continue;
          }
        }
        if (!reader.next(line)) return;
        whole = !line.cut;
        if (reader.offset_of(line.data) >= stop) return;
        if (!handler.line(piece.slot, ++piece.lines, line)) return;
      }
    }
    void join(std::size_t, Piece&) {}
    bool streams(const Piece&) const noexcept { return false; }
    void stream(std::size_t, Piece&) {}
    void render(std::size_t, Piece&) {}
    void emit(std::size_t p, Piece& piece) {
      handler.emit(piece.slot, before);
      before += piece.lines;
      if (piece.error != 0) throw std::system_error(piece.error, std::generic_category());
      if (p + 1 == pieces) end = piece.end;
    }
  };
  const std::size_t pieces =
      to <= from ? 1
                 : static_cast<std::size_t>((to - from + static_cast<off_t>(size) - 1) /
                                            static_cast<off_t>(size));
  Stages stages{fd, from, size, max_line, pieces, handler};
  run_ordered<Piece>(pieces, stages);
  ::lseek(fd, stages.end, SEEK_SET);
}

}  // namespace maskery
