// The output sink: whole blocks out, nothing lost, and failed writes reported.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "core/failure.hpp"
#include "core/sink.hpp"
#include "writers/writers.hpp"

namespace maskery {
namespace {

class RecordingSink final : public Sink {
 public:
  std::vector<std::size_t> sizes;
  std::string data;

 protected:
  void drain(const char* p, std::size_t n) override {
    sizes.push_back(n);
    data.append(p, n);
  }
};

TEST(Sink, DrainsWholeBlocksAndLosesNothing) {
  RecordingSink rec;
  StringSink whole;
  const Address first = packadrinfo(Family::inet6, "::ffff:10.0.0.0");
  const Address last = packadrinfo(Family::inet6, "::ffff:10.3.255.255");
  // Long texts, which go out a block at a time from where they are, at the start of a
  // block and within one; bytes that differ, so that a block lost or sent twice shows.
  std::string varied(3 * Sink::kBlock + 5, ' ');
  for (std::size_t i = 0; i < varied.size(); ++i) varied[i] = static_cast<char>('a' + i % 23);
  for (Sink* out : {static_cast<Sink*>(&rec), static_cast<Sink*>(&whole)}) {
    out->write(varied);
    out->write("header\n");
    list_addresses(first, last, *out);
    out->write(std::string(300000, 'x'));
    out->write(varied);
  }
  rec.flush();
  EXPECT_EQ(rec.data, whole.str());
  ASSERT_GT(rec.sizes.size(), 2u);
  for (std::size_t i = 0; i + 1 < rec.sizes.size(); ++i) EXPECT_EQ(rec.sizes[i], Sink::kBlock) << i;
}

TEST(Sink, WriteErrorsAreFailures) {
  const int fd = open("/dev/full", O_WRONLY);
  ASSERT_GE(fd, 0);
  FdSink out(fd);
  out.write("one line\n");
  try {
    out.flush();
    FAIL() << "no failure";
  } catch (const Failure& f) {
    EXPECT_EQ(f.render("maskery"), "maskery: write error: No space left on device\n");
  }
  close(fd);

  FdSink closed(-1);
  closed.write("x");
  EXPECT_THROW(closed.flush(), Failure);
}

}  // namespace
}  // namespace maskery
