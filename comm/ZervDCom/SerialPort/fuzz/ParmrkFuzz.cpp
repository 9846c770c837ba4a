// Builds a marked stream the way the kernel does (data 0xFF doubled, breaks
// and error characters marked) from the input, feeds it to the decoder in
// input-chosen chunks, and checks that exactly the data and the events come
// back out.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "SerialPort/ParmrkDecoder.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* in, size_t n) {
  std::vector<uint8_t> marked, data;
  unsigned breaks = 0, errors = 0;
  size_t i = 0;
  // Each input byte pair: (kind, value). kind % 8: 0 break, 1 error char, else data.
  for (; i + 1 < n && i < 4096; i += 2) {
    const uint8_t kind = in[i] % 8, v = in[i + 1];
    if (kind == 0) {
      marked.insert(marked.end(), {0xFF, 0x00, 0x00});
      ++breaks;
    } else if (kind == 1 && v != 0) {
      marked.insert(marked.end(), {0xFF, 0x00, v});
      ++errors;
    } else {
      data.push_back(v);
      marked.push_back(v);
      if (v == 0xFF) marked.push_back(0xFF);
    }
  }
  ParmrkDecoder d;
  std::vector<uint8_t> out(marked.size());
  size_t pos = 0, o = 0;
  size_t k = i;
  while (pos < marked.size()) {
    size_t chunk = 1 + (k < n ? in[k++] % 17 : marked.size());
    if (chunk > marked.size() - pos) chunk = marked.size() - pos;
    o += d.decode(marked.data() + pos, chunk, out.data() + o);
    pos += chunk;
  }
  out.resize(o);
  ParmrkDecoder::Events e = d.takeEvents();
  if (out != data || e.breaks != breaks || e.errorChars != errors) std::abort();
  return 0;
}
