#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "report/report.h"

namespace drelk {
namespace {

constexpr size_t kBufferSize = 64 * 1024;

// Collects the report's text and writes it in large pieces: a code base's report runs to
// millions of lines, so each piece is copied once into a buffer, which grows with the
// report up to 64 KiB (a small report costs no large buffer).
class ReportWriter {
 public:
  explicit ReportWriter(TextStream& output) : output_(output) {}
  ~ReportWriter() { flush(); }

  ReportWriter& text(std::string_view s) {
    char* at = room(s.size());
    if (!s.empty()) std::memcpy(at, s.data(), s.size());
    used_ += s.size();
    return *this;
  }

  // One declaration's line: its size as "%<width>u" prints it, `between`, the object's
  // path and a line feed, composed in place.
  ReportWriter& declaration(uint64_t size, size_t width, std::string_view between,
                            std::string_view path) {
    char digits[20];
    size_t n = 0;
    do {
      digits[sizeof digits - ++n] = static_cast<char>('0' + size % 10);
      size /= 10;
    } while (size != 0);
    const size_t pad = width > n ? width - n : 0;
    char* at = room(pad + n + between.size() + path.size() + 1);
    std::memset(at, ' ', pad);
    at += pad;
    std::memcpy(at, digits + sizeof digits - n, n);
    at += n;
    std::memcpy(at, between.data(), between.size());
    at += between.size();
    if (!path.empty()) std::memcpy(at, path.data(), path.size());
    at[path.size()] = '\n';
    used_ += pad + n + between.size() + path.size() + 1;
    return *this;
  }

  void flush() {
    if (used_ > 0) write_text(output_, std::string_view(buffer_.get(), used_));
    used_ = 0;
  }

 private:
  // Room for `n` more bytes at the end of the buffer: the buffer grows while it is below
  // its size, and is flushed once it is full; a piece larger than the whole buffer makes it
  // grow further.
  char* room(size_t n) {
    if (n > capacity_ - used_) {
      if (capacity_ >= kBufferSize) flush();
      if (n > capacity_ - used_)
        grow(std::max(used_ + n, std::min(2 * capacity_ + 256, kBufferSize)));
    }
    return buffer_.get() + used_;
  }

  void grow(size_t capacity) {
    auto grown = std::make_unique_for_overwrite<char[]>(capacity);
    if (used_ > 0) std::memcpy(grown.get(), buffer_.get(), used_);
    buffer_ = std::move(grown);
    capacity_ = capacity;
  }

  TextStream& output_;
  std::unique_ptr<char[]> buffer_;
  size_t capacity_ = 0;
  size_t used_ = 0;
};

}  // namespace

void render_text(const Findings& findings, bool problems_only, TextStream& output) {
  ReportWriter out(output);
  if (findings.incomplete) out.text("Drelk: Processing is incomplete due to previous error(s).\n\n");

  if (!problems_only) {
    out.text("Common Block Analysis\n\n");
    if (findings.blocks.empty()) {
      out.text("\tNone of the objects scanned contain COMMON BLOCKS\n\n");
      return;
    }
    out.text("Common   Block   Initialized   Object File\n");
    out.text("         Size \n\n");
  }

  for (const BlockFindings& found : findings.blocks) {
    const CommonBlock& block = *found.block;
    // Only what is printed is put in list order: with -p, the blocks of several sizes.
    const bool listed = !problems_only || found.size_mismatch;
    const std::vector<const BlockReference*> references =
        listed ? block_references(block) : std::vector<const BlockReference*>();
    if (!problems_only) {
      out.text(" ").text(block.name).text("\n");
      for (const BlockReference* reference : references) {
        out.declaration(reference->size, 13,
                        reference->initialized ? "   I              " : "                  ",
                        reference->object->path);
      }
      out.text("\n");
    }
    if (found.size_mismatch) {
      out.text("Drelk Error: Common Block ")
          .text(block.name)
          .text(" is declared with different sizes\n");
      if (problems_only) {
        for (const BlockReference* reference : references) {
          out.declaration(reference->size, 15, " bytes in ", reference->object->path);
        }
      }
      out.text("\n");
    }
    for (size_t i = found.first_clash; i < found.first_clash + found.clash_count; ++i) {
      const ProcedureEntry& procedure = findings.procedures[i];
      out.text("Drelk Error: Common Block ")
          .text(block.name)
          .text(" conflicts with procedure ")
          .text(procedure.name)
          .text(" in ")
          .text(procedure.definer->path)
          .text("\n\n");
    }
  }
  if (!problems_only) {
    out.text("End of Analysis")
        .text(findings.errors_seen ? ":  COMMON Block errors encountered."
                                   : ":  No problems encountered.")
        .text("\n");
  }
}

void report_common_blocks(const Registry& registry, int error_count, bool problems_only,
                          TextStream& output) {
  render_text(find_problems(registry, error_count), problems_only, output);
}

}  // namespace drelk
