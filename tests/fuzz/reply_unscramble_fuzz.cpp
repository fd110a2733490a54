// A scrambled reply undone piece by piece as it arrives equals the reply
// undone whole, undoing twice gives the bytes back, and the marker test
// agrees with a plain search for the marker followed by at least one byte.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>

#include "account/reply_document.h"
#include "fuzz_input.h"

namespace {

constexpr std::string_view kMarker = "MagicTag=VpnServerResponse";

bool PlainSearch(std::string_view body) {
  const std::size_t at = body.find(kMarker);
  return at != std::string_view::npos && at + kMarker.size() < body.size();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  CFuzzInput in(data, size);
  const std::int32_t key = static_cast<std::int32_t>(in.Number(1u << 16)) - 32768;
  const std::uint8_t cut = in.Byte();
  const std::string body(in.Rest());

  std::string whole = body;
  UnscrambleReply(whole.data(), whole.size(), key);
  std::string pieces = body;
  for (std::size_t at = 0, n = 1 + cut % 64; at < pieces.size(); at += n)
    UnscrambleReply(pieces.data() + at, std::min(n, pieces.size() - at), key);
  FUZZ_CHECK(pieces == whole);
  std::string twice = whole;
  UnscrambleReply(twice.data(), twice.size(), key);
  FUZZ_CHECK(twice == body);
  FUZZ_CHECK((key & 0xff) != 0 || whole == body);

  for (const std::string* b : {&body, static_cast<const std::string*>(&whole)})
    FUZZ_CHECK(HasReplyMarker(b->data(), b->size()) == PlainSearch(*b));
  // The reply the service meant, scrambled on the way, passes once undone.
  std::string sent = body + std::string(kMarker) + "\n";
  UnscrambleReply(sent.data(), sent.size(), key);
  UnscrambleReply(sent.data(), sent.size(), key);
  FUZZ_CHECK(HasReplyMarker(sent.data(), sent.size()));
  return 0;
}
